// Stands in for the temperature export program in tests. Copied into a test's
// working folder as ./velqa/export_temperature/temperature_export.exe, it
// writes its arguments beside itself (argv.bin, each argument's bytes followed
// by a NUL byte), prints what the real program prints when it is done, and
// then does what control.txt beside it says: "exit0" (also when the file is
// missing), "exit1", "abort" or "hang".

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ownFolder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return ".";
    }
    path[n] = '\0';
    std::string text(path);
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

std::string control(const std::string& folder)
{
    std::string text;
    if (FILE* f = std::fopen((folder + "/control.txt").c_str(), "rb")) {
        char buffer[64];
        const size_t n = std::fread(buffer, 1, sizeof(buffer), f);
        std::fclose(f);
        text.assign(buffer, n);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? std::string("exit0") : text;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = ownFolder();
    if (FILE* f = std::fopen((folder + "/argv.bin").c_str(), "wb")) {
        for (int i = 1; i < argc; ++i) {
            std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, f);
        }
        std::fclose(f);
    }
    std::fputs("export finished\r\n", stdout);
    std::fflush(stdout);

    const std::string mode = control(folder);
    if (mode == "exit1") {
        return 1;
    }
    if (mode == "abort") {
        std::abort();
    }
    if (mode == "hang") {
        for (;;) {
            pause();
        }
    }
    return 0;
}
