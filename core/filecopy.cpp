#include "filecopy.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString* failure, const QString& what, const QString& path, int error)
{
    if (failure) {
        *failure = what + QLatin1Char(' ') + path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    }
    return false;
}

}  // namespace

bool copyRegularFile(const QString& from, const QString& to, FileModeCopy mode, QString* failure)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    // Not blocking: a pipe in a copied folder must not hang the copy.
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        return fail(failure, QStringLiteral("cannot open"), from, errno);
    }
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        const int error = errno;
        ::close(in);
        return fail(failure, QStringLiteral("cannot read"), from, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(in);
        return fail(failure, QStringLiteral("not a regular file:"), from, EINVAL);
    }
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return fail(failure, QStringLiteral("cannot create"), to, error);
    }
    bool ok = true;
    int error = 0;
    off_t copied = 0;
    bool inKernel = true;
    while (ok && copied < info.st_size) {
        const size_t want = size_t(std::min<off_t>(info.st_size - copied, off_t(1) << 30));
        ssize_t n = -1;
        if (inKernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0 && copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                // Another file system or an older kernel: copy through a buffer.
                inKernel = false;
                continue;
            }
        } else {
            static thread_local std::vector<char> buffer(1 << 20);
            n = ::read(in, buffer.data(), std::min(want, buffer.size()));
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
                if (w < 0 && errno == EINTR) {
                    continue;
                }
                if (w <= 0) {
                    if (w == 0) {
                        errno = ENOSPC;
                    }
                    n = -1;
                    break;
                }
                done += w;
            }
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A file that shrank while being copied counts as failed too: its copy
        // would not be the file it was.
        error = n < 0 ? errno : EIO;
        ok = n > 0;
        copied += n > 0 ? n : 0;
    }
    if (!ok) {
        fail(failure, QStringLiteral("cannot copy"), from, error);
    }
    if (ok && ::fchmod(out, info.st_mode & 07777) != 0 && mode == FileModeCopy::Required) {
        ok = fail(failure, QStringLiteral("cannot set the mode of"), to, errno);
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (ok && ::futimens(out, times) != 0) {
        ok = fail(failure, QStringLiteral("cannot set the time of"), to, errno);
    }
    if (::close(out) != 0 && ok) {
        ok = fail(failure, QStringLiteral("cannot write"), to, errno);
    }
    ::close(in);
    if (!ok) {
        ::unlink(target.constData());
    }
    return ok;
}
