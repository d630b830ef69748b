#include <ox/data.h>
#include <ox/memory.h>

#include "data/data_internal.h"
#include "support/core_helpers.h"
#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using oxtest::hooks;

// A buffer deleter other than the release hook; counted as a free too.
int g_deleterCalls = 0;
void CountingDeleter(void* p)
{
    ++g_deleterCalls;
    oxtest::CountingFree(p);
}

// A metadata item that counts its live instances.
int g_liveMetadata = 0;
class TestMetadata : public ox::IxMetadataItem
{
public:
    explicit TestMetadata(int v) : value(v) { ++g_liveMetadata; }
    ~TestMetadata() override { --g_liveMetadata; }
    IxMetadataItem* clone() const override { return new TestMetadata(value); }
    int value;
};

int MetadataValue(const ox::IxData& item)
{
    const QList<ox::IxMetadataItem*> items = item.metadata().metadata();
    return items.size() == 1 ? static_cast<TestMetadata*>(items.first())->value : -1;
}

// A 3-channel 16-bit image whose pixels depend on `seed`.
ox::SxImageBuf MakeImage(int seed, int width = 5, int height = 4)
{
    ox::SxImageBuf b;
    EXPECT_EQ(ox::AllocBuffer(b, width, height, 3, ox::eUInt16, 0, 0, ox::ePixel, true, ox::eUncompressed),
              ox::eOk);
    oxtest::fill<quint16>(b, [seed](int x, int y, int c) { return oxtest::pattern(x, y, c) + seed; });
    return b;
}

bool HasPattern(const ox::SxImageBuf& b, int seed)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                if (oxtest::getPixel<quint16>(b, x, y, c) != quint16(oxtest::pattern(x, y, c) + seed))
                    return false;
    return b.data != nullptr;
}

// Every test ends with as many frees as mallocs, no live item or metadata item left over.
class DataItems : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hooks = oxtest::SxHookLog();
        g_deleterCalls = g_liveMetadata = 0;
        m_liveItems = ox::detail::LiveDataItemCount();
        ASSERT_EQ(
            ox::SetMemoryFuncPtrs(&oxtest::CountingMalloc, &oxtest::CountingFree, &oxtest::CountingCopy),
            ox::eOk);
    }
    void TearDown() override
    {
        ox::SetDefaultMemoryFuncPtr();
        EXPECT_EQ(ox::detail::LiveDataItemCount(), m_liveItems) << "data items leaked or deleted twice";
        EXPECT_EQ(g_liveMetadata, 0) << "metadata items leaked";
        EXPECT_EQ(hooks.mallocs, hooks.frees) << "pixel memory leaked or freed twice";
    }
    int m_liveItems = 0;
};

} // namespace

TEST_F(DataItems, DeepSetCopiesIntoOwnMemoryAndReleasesThePreviousImage)
{
    ox::SxImageBuf first = MakeImage(1);
    ox::SxImageBuf second = MakeImage(2, 7, 3);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(123456789);
    {
        ox::CxImageData item;
        item.setImageDeep(first, 12, 34, when);
        EXPECT_NE(item.image().data, first.data);
        EXPECT_TRUE(HasPattern(item.image(), 1));

        quint8* held = item.image().data;
        item.setImageDeep(second, 13, 35, QDateTime());
        EXPECT_EQ(hooks.frees, 1);
        EXPECT_EQ(hooks.lastFreed, held);
        EXPECT_TRUE(HasPattern(item.image(), 2));

        // A part of the item's own image is copied before the image is released.
        ox::SxImageBuf part;
        ASSERT_EQ(ox::ShallowSubImage(item.image(), QRect(1, 0, 2, 2), part), ox::eOk);
        item.setImageDeep(part, 15, 37, QDateTime());
        ASSERT_EQ(item.image().width, 2);
        EXPECT_EQ(oxtest::getPixel<quint16>(item.image(), 0, 0, 2), quint16(oxtest::pattern(1, 0, 2) + 2));

        // A failed copy leaves the item null with the other fields set and the old image released.
        const int frees = hooks.frees;
        hooks.failMalloc = true;
        item.setImageDeep(first, 99, 98, when);
        hooks.failMalloc = false;
        EXPECT_TRUE(item.isNull());
        EXPECT_EQ(hooks.frees, frees + 1);
        EXPECT_TRUE(item.frameNo() == 99 && item.timestamp() == 98u && item.dateTime() == when);
    }
    EXPECT_TRUE(HasPattern(first, 1) && HasPattern(second, 2)); // the caller's buffers were only read
    ox::FreeBuffer(first);
    ox::FreeBuffer(second);
}

TEST_F(DataItems, ShallowSetHandsMemoryToTheItemWithoutReleasingThePreviousOne)
{
    ox::SxImageBuf given = MakeImage(3);
    given.deleter = nullptr; // released through the hook
    ox::SxImageBuf withDeleter = MakeImage(4);
    withDeleter.deleter = &CountingDeleter;
    {
        ox::CxViewImageData item;
        item.setImageShallow(given, 4, 5, QDateTime());
        item.setOrigImageShallow(withDeleter);
        EXPECT_EQ(hooks.mallocs, 2); // nothing allocated or copied
        EXPECT_EQ(item.image().data, given.data);
        EXPECT_EQ(hooks.frees, 0);
    }
    EXPECT_EQ(hooks.frees, 2); // both released by the destructor, one through its own deleter
    EXPECT_EQ(g_deleterCalls, 1);

    // Replaced images are not released: lending a buffer means shallow-setting a zeroed one last.
    ox::SxImageBuf lent = MakeImage(5);
    {
        ox::CxImageData item;
        item.setImageShallow(lent, 0, 0, QDateTime());
        item.setImageShallow(ox::SxImageBuf(), 0, 0, QDateTime());
    }
    EXPECT_EQ(hooks.frees, 2);
    EXPECT_TRUE(HasPattern(lent, 5));
    ox::FreeBuffer(lent);
}

TEST_F(DataItems, SetNullReleasesTheImageAndMetadataButKeepsTheUnconvertedImage)
{
    ox::SxImageBuf image = MakeImage(1);
    ox::SxImageBuf orig = MakeImage(2);
    ox::CxViewImageData item;
    item.setOrigImageDeep(orig); // neither the unconverted image nor metadata make an item non-null
    item.metadata().addMetadata(new TestMetadata(1));
    EXPECT_TRUE(item.isNull());
    item.setImageDeep(image, 8, 9, QDateTime::fromSecsSinceEpoch(5));

    item.setNull();
    EXPECT_EQ(hooks.frees, 1);
    EXPECT_TRUE(item.isNull());
    EXPECT_EQ(g_liveMetadata, 0);
    EXPECT_TRUE(HasPattern(item.origImage(), 2)); // kept, in the item's own memory
    EXPECT_NE(item.origImage().data, orig.data);
    ox::FreeBuffer(image);
    ox::FreeBuffer(orig);
}

TEST_F(DataItems, ClonesAreIndependentCopiesOfTheSameClass)
{
    QObject owner;
    ox::SxImageBuf image = MakeImage(1);
    ox::SxImageBuf orig = MakeImage(2);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(42);
    ox::CxViewImageData view(&owner);
    view.setImageDeep(image, 3, 4, when);
    view.setOrigImageDeep(orig);
    view.metadata().addMetadata(new TestMetadata(11));

    std::unique_ptr<ox::IxData> copy(view.clone());
    EXPECT_EQ(copy->parent(), &owner); // same parent as the source
    copy->setParent(nullptr);
    auto* clone = dynamic_cast<ox::CxViewImageData*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->image().data, view.image().data);
    EXPECT_NE(clone->origImage().data, view.origImage().data);
    EXPECT_TRUE(HasPattern(clone->image(), 1) && HasPattern(clone->origImage(), 2));
    EXPECT_TRUE(copy->frameNo() == 3 && copy->timestamp() == 4u && copy->dateTime() == when);
    EXPECT_EQ(MetadataValue(*copy), 11);
    clone->setNull(); // changing the clone leaves the source alone
    EXPECT_FALSE(view.isNull());
    EXPECT_EQ(MetadataValue(view), 11);
    ox::FreeBuffer(image);
    ox::FreeBuffer(orig);
}
