#include "simscene.h"

#include <QImage>
#include <QString>

#include <cstring>
#include <fstream>

namespace simdev {

PictureScene::PictureScene(std::vector<std::string> pictures, std::string selectFile)
    : m_pictures(std::move(pictures))
    , m_selectFile(std::move(selectFile))
{
}

int PictureScene::selected() const
{
    if (m_selectFile.empty()) {
        return 0;
    }
    std::ifstream in(m_selectFile);
    int index = 0;
    if (!(in >> index) || index < 0 || index >= int(m_pictures.size())) {
        return 0;
    }
    return index;
}

bool PictureScene::render(int width, int height, PixelFormat format, unsigned char* out)
{
    if (m_pictures.empty() || !validFrameSize(width, height)) {
        return false;
    }
    const int index = selected();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_width != width || m_height != height) {
        m_grey.assign(m_pictures.size(), {});
        m_reported.assign(m_pictures.size(), false);
        m_width = width;
        m_height = height;
    }
    std::vector<unsigned char>& grey = m_grey[std::size_t(index)];
    if (grey.empty()) {
        QImage picture(QString::fromStdString(m_pictures[std::size_t(index)]));
        if (picture.isNull()) {
            if (!m_reported[std::size_t(index)]) {
                m_reported[std::size_t(index)] = true;
                qWarning("simulated camera: picture %s cannot be read", m_pictures[std::size_t(index)].c_str());
            }
            return false;
        }
        if (picture.width() != width || picture.height() != height) {
            picture = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        // Last: smooth scaling may hand back another format.
        picture = picture.convertToFormat(QImage::Format_Grayscale8);
        grey.resize(std::size_t(width) * std::size_t(height));
        for (int y = 0; y < height; ++y) {
            std::memcpy(grey.data() + std::size_t(y) * std::size_t(width), picture.constScanLine(y), std::size_t(width));
        }
    }
    if (format == PixelFormat::Rgb8) {
        for (std::size_t i = 0; i < grey.size(); ++i) {
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = grey[i];
        }
    } else {
        std::memcpy(out, grey.data(), grey.size());
    }
    return true;
}

} // namespace simdev
