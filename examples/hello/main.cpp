// A minimal host application: prints what the library reports about itself and the machine, then
// allocates, copies, crops and sub-images a few buffers, reporting each step; last it runs a pipeline
// in push and pull feed and an auto-focus search against a simulated camera and focus drive.

#include "focus_demo.h"
#include "pipeline_demo.h"

#include <ox/ox.h>

#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

QString describe(const ox::SxImageBuf& b)
{
    return QStringLiteral("%1 x %2, %3 channel(s), %4 bytes per row, %5 bytes")
        .arg(b.width)
        .arg(b.height)
        .arg(b.channels)
        .arg(b.rowBytes)
        .arg(b.dataSize);
}

bool check(const char* what, unsigned int code)
{
    out() << QStringLiteral("%1: code 0x%2").arg(QLatin1String(what)).arg(code, 8, 16, QLatin1Char('0'))
          << Qt::endl;
    return ox::Succeeded(code);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    out() << "ox " << ox::VersionString() << Qt::endl;
    out() << "total RAM:     " << ox::TotalRAM() / (1024 * 1024) << " MiB" << Qt::endl;
    out() << "available RAM: " << ox::AvailableRAM() / (1024 * 1024) << " MiB" << Qt::endl;
    out() << "L2 cache:      " << ox::L2CacheSize() / 1024 << " KiB" << Qt::endl;

    ox::SxImageBuf rgb;
    if (!check("allocate a 640 x 480 8-bit RGB image",
               ox::AllocBuffer(rgb, 640, 480, 3, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed)))
        return 1;
    out() << "  " << describe(rgb) << Qt::endl;
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width * 3; ++x)
            rgb.data[y * rgb.rowBytes + x] = quint8(x ^ y);

    ox::SxImageBuf copy;
    if (!check("allocate and copy it", ox::AllocAndCopyBuffer(rgb, copy)))
        return 1;
    out() << "  copy equals original: "
          << (std::equal(rgb.data, rgb.data + rgb.dataSize, copy.data) ? "yes" : "no") << Qt::endl;

    ox::SxImageBuf view;
    if (!check("sub-image (100, 50, 320 x 240) without copying",
               ox::ShallowSubImage(rgb, QRect(100, 50, 320, 240), view)))
        return 1;
    out() << "  " << describe(view) << ", shares memory at offset " << (view.data - rgb.data) << Qt::endl;

    if (!check("crop the copy to (100, 50, 320 x 240)", ox::Crop(copy, QRect(100, 50, 320, 240))))
        return 1;
    out() << "  " << describe(copy) << Qt::endl;
    out() << "  first pixel matches the sub-image: " << (copy.data[0] == view.data[0] ? "yes" : "no")
          << Qt::endl;

    check("copy a region outside the target (refused)",
          ox::CopyBuffer(rgb, QRect(0, 0, 400, 300), copy, QPoint(0, 0), true));

    ox::FreeBuffer(copy);
    ox::FreeBuffer(rgb);
    out() << "freed both buffers; data pointers are " << (rgb.data || copy.data ? "set" : "null") << Qt::endl;

    RunPipelineDemo(3);
    return RunFocusDemo(10000) ? 0 : 1;
}
