#include <ox/data.h>
#include <ox/memory.h>

#include "data/data_internal.h"
#include "support/core_helpers.h"
#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <utility>

namespace {

using oxtest::hooks;

int g_deleterCalls = 0, g_liveMetadata = 0;

struct TestMetadata : ox::IxMetadataItem
{
    TestMetadata() { ++g_liveMetadata; }
    ~TestMetadata() override { --g_liveMetadata; }
    IxMetadataItem* clone() const override { return new TestMetadata; }
};

// One row of 3-channel 16-bit pixels whose components count up from `seed`, released at the end of
// the scope unless handed over.
struct Image : ox::SxImageBuf
{
    explicit Image(int seed, int w = 5)
    {
        ox::AllocBuffer(*this, w, 1, 3, ox::eUInt16, 0, 0, ox::ePixel, true, ox::eUncompressed);
        std::iota(reinterpret_cast<quint16*>(data), reinterpret_cast<quint16*>(data) + 3 * w, quint16(seed));
    }
    ~Image() { ox::FreeBuffer(*this); }
    ox::SxImageBuf handOver() { return std::exchange<ox::SxImageBuf>(*this, ox::SxImageBuf()); }
};

bool Holds(const ox::SxImageBuf& b, int seed)
{
    const auto* p = reinterpret_cast<const quint16*>(b.data);
    for (int i = 0; p && i < 3 * b.width; ++i)
        if (p[i] != seed + i)
            return false;
    return p && b.height == 1;
}

// Pixel memory goes through counting hooks: every test must end with as many frees as mallocs and
// without live data or metadata items.
struct DataItems : ::testing::Test
{
    void SetUp() override
    {
        hooks = oxtest::SxHookLog();
        g_deleterCalls = g_liveMetadata = 0;
        ox::SetMemoryFuncPtrs(&oxtest::CountingMalloc, &oxtest::CountingFree, &oxtest::CountingCopy);
    }
    void TearDown() override
    {
        ox::SetDefaultMemoryFuncPtr();
        EXPECT_EQ(ox::detail::LiveDataItemCount(), 0) << "data items leaked or deleted twice";
        EXPECT_EQ(g_liveMetadata, 0) << "metadata items leaked";
        EXPECT_EQ(hooks.mallocs, hooks.frees) << "pixel memory leaked or freed twice";
    }
    const QDateTime m_when = QDateTime::fromMSecsSinceEpoch(123456789);
};

} // namespace

TEST_F(DataItems, DeepSetCopiesIntoOwnMemoryAndReleasesThePreviousImageFirst)
{
    Image first(1), second(2, 7);
    {
        ox::CxImageData item;
        item.setImageDeep(first, 12, 34, m_when);
        EXPECT_TRUE(item.image().data != first.data && Holds(item.image(), 1));
        quint8* held = item.image().data;
        item.setImageDeep(second, 13, 35, QDateTime());
        EXPECT_TRUE(hooks.frees == 1 && hooks.lastFreed == held && Holds(item.image(), 2));

        // A part of the item's own image is copied before the image is released.
        ox::SxImageBuf part;
        ASSERT_EQ(ox::ShallowSubImage(item.image(), QRect(1, 0, 2, 1), part), 0u);
        item.setImageDeep(part, 15, 37, QDateTime());
        EXPECT_TRUE(item.image().width == 2 && Holds(item.image(), 2 + 3));

        // Foreign memory the copy hook refuses: logged, the new memory and the old image released,
        // the item null with its other fields set.
        ox::SxImageBuf foreign = first;
        foreign.memoryTag = 1;
        hooks.copyResult = false;
        oxtest::MessageCapture log;
        item.setImageDeep(foreign, 99, 98, m_when);
        EXPECT_EQ(log.lines(), QStringList{"ERROR | \"Failed to copy the image buffer.\""});
        EXPECT_TRUE(item.isNull() && hooks.copies == 1 && hooks.frees == 4);
        EXPECT_TRUE(item.frameNo() == 99 && item.timestamp() == 98u && item.dateTime() == m_when);

        // A descriptor without memory gives its format only; the item's info (and its clone) has it.
        foreign.data = nullptr;
        item.setImageDeep(foreign, 0, 0, QDateTime());
        std::unique_ptr<ox::IxDataInfo> info(item.dataInfo()), copy(info->clone());
        const auto* format = dynamic_cast<const ox::CxImageDataInfo*>(copy.get());
        EXPECT_TRUE(format && format->imageInfo.width == 5 && format->imageInfo.dataType == ox::eUInt16);
        EXPECT_TRUE(item.isNull() && hooks.mallocs == 6); // nothing allocated for it
    }
    EXPECT_TRUE(Holds(first, 1) && Holds(second, 2)); // the caller's buffers were only read
}

TEST_F(DataItems, ShallowSetHandsMemoryOverWithoutReleasingTheReplacedImage)
{
    Image lent(5);
    {
        ox::CxViewImageData item;
        item.setImageShallow(lent, 0, 0, QDateTime());
        item.setImageShallow(Image(3).handOver(), 4, 5, QDateTime()); // the lent buffer stays the caller's
        ox::SxImageBuf withDeleter = Image(4).handOver();
        withDeleter.deleter = [](void* p) { ++g_deleterCalls, oxtest::CountingFree(p); };
        item.setOrigImageShallow(withDeleter);
        EXPECT_TRUE(Holds(item.image(), 3) && item.origImage().data == withDeleter.data);
        EXPECT_TRUE(hooks.mallocs == 3 && hooks.frees == 0); // nothing allocated, copied or released
    }
    // The destructor released the handed-over images, one through its own deleter.
    EXPECT_TRUE(hooks.frees == 2 && g_deleterCalls == 1 && Holds(lent, 5));
}

TEST_F(DataItems, ClonesAreIndependentDeepCopiesAndSetNullKeepsAllButImageAndMetadata)
{
    QObject owner; // also deletes the clone
    Image image(1), orig(2);
    ox::CxViewImageData view(&owner);
    view.setOrigImageDeep(orig); // neither the unconverted image nor metadata make an item non-null
    view.metadata().addMetadata(new TestMetadata);
    EXPECT_TRUE(view.isNull());
    view.setImageDeep(image, 3, 4, m_when);

    auto* clone = dynamic_cast<ox::CxViewImageData*>(view.clone());
    ASSERT_TRUE(clone && clone->parent() == &owner);
    EXPECT_TRUE(clone->image().data != view.image().data && clone->origImage().data != view.origImage().data);
    EXPECT_TRUE(Holds(clone->image(), 1) && Holds(clone->origImage(), 2) && g_liveMetadata == 2);

    const int frees = hooks.frees;
    clone->setNull();
    EXPECT_TRUE(clone->isNull() && hooks.frees == frees + 1 && g_liveMetadata == 1);
    EXPECT_TRUE(clone->frameNo() == 3 && clone->timestamp() == 4u && clone->dateTime() == m_when);
    EXPECT_TRUE(Holds(clone->origImage(), 2) && Holds(view.image(), 1)); // the source is untouched
}
