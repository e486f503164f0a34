// The window's stored pictures: JPEG data kept scrambled (every byte XOR-ed
// with a one-byte key that follows the data) and decoded with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <cstdint>

namespace rombolt::qt {

// Stored bytes -> JPEG bytes: the last byte is the key. Empty input gives empty output.
QByteArray Unscramble(const QByteArray& stored);

// Decodes baseline or progressive JPEG data (grey or colour) into an RGB
// image. Any decoding error or warning (cut or corrupt data), or an image
// over 4096 x 4096, gives a null image.
QImage DecodeJpeg(const std::uint8_t* data, std::size_t size);

// The stored pictures, decoded; a null image when the data does not decode.
QImage CartPicture(int number);  // CartModel::Picture, 1..kCartPictureCount
QImage StartupPicture();

}  // namespace rombolt::qt
