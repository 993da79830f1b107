#include "gui/jpeg_image.h"

#include <QtCore/QFile>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace kalvo {
namespace {

// Larger pictures are refused rather than allocated from a forged header.
constexpr JDIMENSION kMaxSide = 16384;

// libjpeg reports errors through a callback that must not return. We jump back to the
// function that called libjpeg; those functions hold no C++ objects with destructors.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings are corrupt or truncated data: better no picture than half a grey one.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ErrorExit(cinfo);
}

void OutputMessage(j_common_ptr) {}

struct Header {
    int width;
    int height;
    bool grey;
};

bool StartDecompress(jpeg_decompress_struct& cinfo, ErrorManager& err, const unsigned char* data,
                     unsigned long size, Header& header) {
    if (setjmp(err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (cinfo.image_width > kMaxSide || cinfo.image_height > kMaxSide) return false;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != (grey ? 1 : 3)) return false;
    header = Header{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), grey};
    return true;
}

bool ReadRows(jpeg_decompress_struct& cinfo, ErrorManager& err, unsigned char* bits, qsizetype bytesPerLine) {
    if (setjmp(err.jump)) return false;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(cinfo.output_scanline) * bytesPerLine;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
    if (bytes.isEmpty()) return {};
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = ErrorExit;
    err.base.emit_message = EmitMessage;
    err.base.output_message = OutputMessage;

    QImage image;
    Header header{};
    if (StartDecompress(cinfo, err, reinterpret_cast<const unsigned char*>(bytes.constData()),
                        static_cast<unsigned long>(bytes.size()), header)) {
        image = QImage(header.width, header.height, header.grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        if (!image.isNull() && !ReadRows(cinfo, err, image.bits(), image.bytesPerLine())) image = QImage();
    }
    jpeg_destroy_decompress(&cinfo);  // safe after a failed create: the struct was zeroed
    return image;
}

QImage LoadJpegResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return DecodeJpeg(file.readAll());
}

}  // namespace kalvo
