#include "pictures.h"

// jpeglib.h needs FILE declared first.
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <QFile>
#include <csetjmp>
#include <cstdio>

#include "flash/cart_models.h"

namespace rombolt::qt {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg's default handler ends the process; this one returns to DecodeJpeg.
void OnJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void SilenceJpegMessage(j_common_ptr) {}

constexpr JDIMENSION kMaxSide = 4096;

QImage LoadStored(const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray jpeg = Unscramble(f.readAll());
    return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.constData()),
                      static_cast<std::size_t>(jpeg.size()));
}

}  // namespace

QByteArray Unscramble(const QByteArray& stored) {
    if (stored.isEmpty()) return {};
    const auto key = static_cast<char>(stored.back());
    QByteArray out(stored.size() - 1, Qt::Uninitialized);
    for (qsizetype i = 0; i < out.size(); ++i) out[i] = static_cast<char>(stored[i] ^ key);
    return out;
}

QImage DecodeJpeg(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) return {};
    // Everything that must survive a jump back here lives in this frame and
    // has no destructor that the jump would skip.
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnJpegError;
    err.pub.output_message = SilenceJpegMessage;
    QImage* volatile image = nullptr;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete image;
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxSide ||
        cinfo.image_height > kMaxSide) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    image = new QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                       QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        delete image;
        return {};
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    // Corrupt or cut data only raises warnings (the missing part comes out
    // grey); such a picture counts as not decoded.
    const bool damaged = err.pub.num_warnings > 0;
    jpeg_destroy_decompress(&cinfo);
    if (damaged) {
        delete image;
        return {};
    }
    QImage result = std::move(*image);
    delete image;
    return result;
}

QImage CartPicture(int number) {
    if (number < 1 || number > kCartPictureCount) return {};
    return LoadStored(QStringLiteral(":/pictures/cart%1.jpx").arg(number));
}

QImage StartupPicture() { return LoadStored(QStringLiteral(":/pictures/startup.jpx")); }

}  // namespace rombolt::qt
