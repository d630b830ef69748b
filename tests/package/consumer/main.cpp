#include <ox/ox.h>

#include <cstdio>

int main()
{
    ox::SxImageBuf buf;
    if (ox::AllocBuffer(buf, 8, 4, 3, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed) != ox::eOk)
        return 1;
    std::printf("ox %s row %d\n", qPrintable(ox::VersionString()), buf.rowBytes);
    ox::FreeBuffer(buf);
    return 0;
}
