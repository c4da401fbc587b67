#pragma once
// Writing the contour images the window tests open.

#include <QFile>
#include <QString>
#include <QtTest>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/bmp24.h"

// A 24-bit BMP at path whose pixels have grey level grey(x, y) (0..255).
inline void WriteGreyBmp(const QString& path, int width, int height,
                         const std::function<int(int, int)>& grey) {
    const std::string bytes = testsupport::Bmp24Bytes(width, height, [&](int x, int y) {
        const auto g = std::uint8_t(grey(x, y));
        return talorin::Rgb{g, g, g};
    });
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}
