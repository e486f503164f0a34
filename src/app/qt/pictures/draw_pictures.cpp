// Draws the window's pictures (the six cart-model pictures and the start-up
// picture shown in the empty log), encodes them as JPEG with libjpeg and
// stores each one scrambled: every byte XOR-ed with a one-byte key, the key
// byte appended after the data. Given a second folder, it also draws the
// program's icon there as PNG files, one per size (16x16.png .. 256x256.png).
//
//   cmake --build <build dir> --target rombolt-draw-pictures
//   <build dir>/src/app/qt/rombolt-draw-pictures src/app/qt/pictures packaging/icons
// jpeglib.h needs FILE declared first.
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> EncodeJpeg(const QImage& source, int quality) {
    QImage img = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(img.width());
    cinfo.image_height = static_cast<JDIMENSION>(img.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<unsigned char> data(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return data;
}

bool WriteScrambled(const std::string& path, const std::vector<unsigned char>& jpeg, unsigned char key) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<unsigned char> stored(jpeg.size() + 1);
    for (size_t i = 0; i < jpeg.size(); ++i) stored[i] = jpeg[i] ^ key;
    stored.back() = key;
    bool ok = std::fwrite(stored.data(), 1, stored.size(), f) == stored.size();
    return std::fclose(f) == 0 && ok;
}

// A lightning bolt inside the rectangle r.
QPainterPath Bolt(const QRectF& r) {
    QPainterPath p;
    auto at = [&](double x, double y) { return QPointF(r.left() + x * r.width(), r.top() + y * r.height()); };
    p.moveTo(at(0.62, 0.0));
    p.lineTo(at(0.18, 0.56));
    p.lineTo(at(0.46, 0.56));
    p.lineTo(at(0.32, 1.0));
    p.lineTo(at(0.84, 0.38));
    p.lineTo(at(0.54, 0.38));
    p.lineTo(at(0.70, 0.0));
    p.closeSubpath();
    return p;
}

struct CartStyle {
    QColor body;
    QColor label1, label2;
    int chips;
    const char* series;
};

// One cartridge seen from the front, its label and its flash chips behind a
// window in the shell.
QImage DrawCart(const CartStyle& st) {
    QImage img(150, 106, QImage::Format_RGB32);
    img.fill(QColor(0xD4, 0xD0, 0xC8));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // soft shadow
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawRoundedRect(QRectF(19, 13, 118, 86), 7, 7);

    // shell with the grip ridge at the top and the connector cut below
    QPainterPath shell;
    shell.addRoundedRect(QRectF(14, 8, 118, 86), 7, 7);
    QPainterPath cut;
    cut.addRect(QRectF(30, 86, 86, 10));
    shell = shell.subtracted(cut);
    QLinearGradient g(0, 8, 0, 94);
    g.setColorAt(0, st.body.lighter(130));
    g.setColorAt(1, st.body.darker(120));
    p.setBrush(g);
    p.setPen(QPen(st.body.darker(180), 1.2));
    p.drawPath(shell);
    p.setPen(QPen(st.body.darker(150), 1));
    for (int i = 0; i < 5; ++i) p.drawLine(QPointF(40 + i * 16, 12), QPointF(46 + i * 16, 12));

    // label
    QRectF label(24, 18, 98, 40);
    QLinearGradient lg(label.topLeft(), label.bottomRight());
    lg.setColorAt(0, st.label1);
    lg.setColorAt(1, st.label2);
    p.setBrush(lg);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.drawRoundedRect(label, 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 220, 40));
    p.drawPath(Bolt(QRectF(27, 21, 20, 34)));
    QFont f("DejaVu Sans");
    f.setBold(true);
    f.setPixelSize(13);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(46, 20, 74, 18), Qt::AlignCenter, "ROMBOLT");
    f.setPixelSize(10);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(255, 255, 255, 220));
    p.drawText(QRectF(46, 37, 74, 16), Qt::AlignCenter, st.series);

    // window onto the flash chips
    QRectF win(32, 62, 82, 22);
    p.setBrush(QColor(20, 30, 25, 200));
    p.setPen(QPen(st.body.darker(200), 1));
    p.drawRoundedRect(win, 2, 2);
    double w = (win.width() - 6 - (st.chips - 1) * 4) / st.chips;
    for (int c = 0; c < st.chips; ++c) {
        QRectF chip(win.left() + 3 + c * (w + 4), win.top() + 4, w, win.height() - 8);
        p.setBrush(QColor(35, 35, 40));
        p.setPen(QPen(QColor(150, 150, 150), 0.8));
        p.drawRect(chip);
        for (double x = chip.left() + 2; x < chip.right() - 1; x += 3) {
            p.drawLine(QPointF(x, chip.top() - 2), QPointF(x, chip.top()));
            p.drawLine(QPointF(x, chip.bottom()), QPointF(x, chip.bottom() + 2));
        }
        p.setBrush(QColor(200, 200, 200));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(chip.left() + 3, chip.top() + 3), 1.2, 1.2);
    }
    return img;
}

// The picture that fills the empty log.
QImage DrawStartup() {
    QImage img(236, 176, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 176);
    sky.setColorAt(0, QColor(12, 20, 52));
    sky.setColorAt(1, QColor(20, 92, 110));
    p.fillRect(img.rect(), sky);

    // circuit traces
    p.setPen(QPen(QColor(90, 200, 200, 70), 1.5));
    for (int i = 0; i < 7; ++i) {
        int y = 18 + i * 22;
        p.drawLine(0, y, 40 + i * 9, y);
        p.drawLine(40 + i * 9, y, 52 + i * 9, y + 12);
        p.drawEllipse(QPointF(52 + i * 9, y + 12), 2.5, 2.5);
        p.drawLine(236, y + 6, 196 - i * 7, y + 6);
        p.drawEllipse(QPointF(196 - i * 7, y + 6), 2.5, 2.5);
    }

    // glow and bolt
    QRadialGradient glow(QPointF(118, 70), 70);
    glow.setColorAt(0, QColor(255, 230, 120, 150));
    glow.setColorAt(1, QColor(255, 230, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(118, 70), 70, 70);
    QLinearGradient bg(90, 20, 150, 120);
    bg.setColorAt(0, QColor(255, 244, 160));
    bg.setColorAt(1, QColor(255, 170, 20));
    p.setBrush(bg);
    p.setPen(QPen(QColor(120, 60, 0), 2));
    p.drawPath(Bolt(QRectF(84, 14, 68, 108)));

    QFont f("DejaVu Serif");
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QRectF(2, 122, 236, 30), Qt::AlignCenter, "Rombolt Writer");
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 120, 236, 30), Qt::AlignCenter, "Rombolt Writer");
    QFont s("DejaVu Sans");
    s.setPixelSize(11);
    p.setFont(s);
    p.setPen(QColor(190, 235, 235));
    p.drawText(QRectF(0, 150, 236, 18), Qt::AlignCenter, "GBA flash cart writer  3.2");
    return img;
}

// The program's icon: a cartridge with a lightning bolt on its label, drawn
// on a 256-unit square and scaled to size x size pixels. Small sizes leave
// out the details that would only blur.
QImage DrawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    const bool detailed = size >= 48;
    const QColor body(30, 130, 120);

    // shell, the connector cut out at the bottom
    QPainterPath shell;
    shell.addRoundedRect(QRectF(8, 36, 240, 188), 24, 24);
    QPainterPath cut;
    cut.addRect(QRectF(60, 204, 136, 24));
    shell = shell.subtracted(cut);
    if (detailed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawPath(shell.translated(4, 6));
    }
    QLinearGradient g(0, 36, 0, 224);
    g.setColorAt(0, body.lighter(135));
    g.setColorAt(1, body.darker(125));
    p.setBrush(g);
    p.setPen(QPen(body.darker(200), size >= 32 ? 6 : 12));
    p.drawPath(shell);
    if (detailed) {
        p.setPen(QPen(body.darker(150), 5, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 5; ++i) p.drawLine(QPointF(70 + i * 26, 50), QPointF(84 + i * 26, 50));
    }

    // label
    QRectF label = detailed ? QRectF(30, 64, 196, 104) : QRectF(28, 58, 200, 130);
    QLinearGradient lg(label.topLeft(), label.bottomRight());
    lg.setColorAt(0, QColor(60, 170, 210));
    lg.setColorAt(1, QColor(10, 60, 90));
    p.setBrush(lg);
    p.setPen(detailed ? QPen(QColor(255, 255, 255, 170), 3) : Qt::NoPen);
    p.drawRoundedRect(label, 10, 10);

    // window onto the two flash chips
    if (detailed) {
        QRectF win(62, 178, 132, 30);
        p.setBrush(QColor(20, 30, 25, 220));
        p.setPen(QPen(body.darker(200), 3));
        p.drawRoundedRect(win, 4, 4);
        p.setBrush(QColor(35, 35, 40));
        p.setPen(QPen(QColor(160, 160, 160), 2));
        for (int c = 0; c < 2; ++c) p.drawRect(QRectF(win.left() + 10 + c * 60, win.top() + 7, 52, 16));
    }

    // the bolt, larger than the label
    QRectF boltBox = detailed ? QRectF(76, 20, 104, 172) : QRectF(48, 20, 160, 204);
    QLinearGradient bg(boltBox.topLeft(), boltBox.bottomRight());
    bg.setColorAt(0, QColor(255, 244, 160));
    bg.setColorAt(1, QColor(255, 170, 20));
    p.setBrush(bg);
    p.setPen(QPen(QColor(120, 60, 0), size >= 32 ? 6 : 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(Bolt(boltBox));
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    std::string dir = argc > 1 ? argv[1] : ".";

    const CartStyle styles[6] = {
        {QColor(70, 72, 80), QColor(40, 110, 200), QColor(20, 50, 120), 1, "FLASH"},
        {QColor(60, 110, 170), QColor(230, 120, 30), QColor(150, 50, 10), 2, "FLASH II"},
        {QColor(170, 40, 40), QColor(40, 40, 40), QColor(110, 110, 110), 2, "STRATA"},
        {QColor(30, 30, 34), QColor(200, 30, 60), QColor(90, 10, 40), 2, "STRATA XL"},
        {QColor(30, 130, 120), QColor(60, 170, 210), QColor(10, 60, 90), 2, "VELA"},
        {QColor(90, 50, 130), QColor(230, 180, 40), QColor(160, 90, 10), 2, "VELA XL"},
    };
    const unsigned char keys[7] = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0xF4, 0x69};
    bool ok = true;
    for (int i = 0; i < 6; ++i) {
        std::string path = dir + "/cart" + std::to_string(i + 1) + ".jpx";
        ok = WriteScrambled(path, EncodeJpeg(DrawCart(styles[i]), 90), keys[i]) && ok;
    }
    ok = WriteScrambled(dir + "/startup.jpx", EncodeJpeg(DrawStartup(), 90), keys[6]) && ok;
    if (!ok) std::fprintf(stderr, "could not write the pictures into %s\n", dir.c_str());
    if (argc > 2) {
        const std::string iconDir = argv[2];
        bool iconsOk = true;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const std::string name = std::to_string(size) + "x" + std::to_string(size) + ".png";
            iconsOk = DrawIcon(size).save(QString::fromStdString(iconDir + "/" + name), "PNG") && iconsOk;
        }
        if (!iconsOk) std::fprintf(stderr, "could not write the icons into %s\n", iconDir.c_str());
        ok = ok && iconsOk;
    }
    return ok ? 0 : 1;
}
