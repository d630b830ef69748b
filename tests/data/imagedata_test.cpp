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
        EXPECT_TRUE(item.isNull());
        item.setImageDeep(first, 12, 34, when);
        EXPECT_NE(item.image().data, first.data);
        EXPECT_TRUE(HasPattern(item.image(), 1));
        EXPECT_TRUE(item.frameNo() == 12 && item.timestamp() == 34u && item.dateTime() == when);
        std::unique_ptr<ox::IxDataInfo> info(item.dataInfo());
        const ox::SxImageInfo& described = dynamic_cast<ox::CxImageDataInfo&>(*info).imageInfo;
        EXPECT_TRUE(described.width == 5 && described.channels == 3 && described.dataType == ox::eUInt16);

        quint8* held = item.image().data;
        item.setImageDeep(second, 13, 35, QDateTime());
        EXPECT_EQ(hooks.frees, 1);
        EXPECT_EQ(hooks.lastFreed, held);
        EXPECT_TRUE(HasPattern(item.image(), 2));

        // The item's own image, or a part of it, is copied before it is released.
        item.setImageDeep(item.image(), 14, 36, QDateTime());
        EXPECT_TRUE(HasPattern(item.image(), 2));
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
        item.setImageDeep(first, 1, 1, when); // released by the destructor
    }
    EXPECT_TRUE(HasPattern(first, 1)); // the caller's buffers were only read
    EXPECT_TRUE(HasPattern(second, 2));
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

    // Lending a buffer means shallow-setting a zeroed one before the item goes.
    ox::SxImageBuf a = MakeImage(5);
    ox::SxImageBuf lent = MakeImage(6);
    {
        ox::CxImageData item;
        item.setImageShallow(a, 0, 0, QDateTime());
        item.setImageShallow(lent, 0, 0, QDateTime());
        item.setImageShallow(ox::SxImageBuf(), 0, 0, QDateTime());
    }
    EXPECT_EQ(hooks.frees, 2);
    EXPECT_TRUE(HasPattern(a, 5) && HasPattern(lent, 6));
    ox::FreeBuffer(a);
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
    item.setNull(); // again: harmless
    EXPECT_EQ(hooks.frees, 1);
    EXPECT_TRUE(item.isNull());
    EXPECT_EQ(g_liveMetadata, 0);
    EXPECT_TRUE(item.frameNo() == 8 && item.timestamp() == 9u);
    EXPECT_TRUE(HasPattern(item.origImage(), 2)); // kept, in the item's own memory
    EXPECT_NE(item.origImage().data, orig.data);

    // A deep set of the unconverted image releases the previous one, also from itself.
    quint8* held = item.origImage().data;
    item.setOrigImageDeep(item.origImage());
    EXPECT_EQ(hooks.lastFreed, held);
    EXPECT_TRUE(HasPattern(item.origImage(), 2));
    ox::FreeBuffer(image);
    ox::FreeBuffer(orig);
}

TEST_F(DataItems, ClonesAreIndependentCopiesOfTheSameClass)
{
    QObject owner;
    ox::SxImageBuf image = MakeImage(1);
    ox::SxImageBuf orig = MakeImage(2);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(42);

    auto* item = new ox::CxImageData(&owner);
    item->setImageDeep(image, 3, 4, when);
    item->metadata().addMetadata(new TestMetadata(11));
    std::unique_ptr<ox::IxData> copy(item->clone());
    EXPECT_EQ(copy->parent(), &owner); // same parent as the source
    copy->setParent(nullptr);
    auto* imageCopy = dynamic_cast<ox::CxImageData*>(copy.get());
    ASSERT_NE(imageCopy, nullptr);
    EXPECT_EQ(dynamic_cast<ox::CxViewImageData*>(copy.get()), nullptr);
    EXPECT_NE(imageCopy->image().data, item->image().data);
    EXPECT_TRUE(HasPattern(imageCopy->image(), 1));
    EXPECT_TRUE(copy->frameNo() == 3 && copy->timestamp() == 4u && copy->dateTime() == when);
    EXPECT_EQ(MetadataValue(*copy), 11);
    new ox::CxImageData(*item); // copy construction keeps the parent: deleted with `owner`
    EXPECT_EQ(ox::detail::LiveDataItemCount(), m_liveItems + 3);

    // A null item clones to a null item of the same class and fields, allocating nothing.
    ox::CxViewImageData nullView;
    nullView.setFrameNo(6);
    nullView.setTimestamp(7);
    nullView.setDateTime(when);
    nullView.metadata().addMetadata(new TestMetadata(12));
    const int mallocs = hooks.mallocs;
    std::unique_ptr<ox::IxData> nullCopy(nullView.clone());
    EXPECT_EQ(hooks.mallocs, mallocs);
    ASSERT_NE(dynamic_cast<ox::CxViewImageData*>(nullCopy.get()), nullptr);
    EXPECT_TRUE(nullCopy->isNull());
    EXPECT_TRUE(nullCopy->frameNo() == 6 && nullCopy->timestamp() == 7u && nullCopy->dateTime() == when);
    EXPECT_EQ(MetadataValue(*nullCopy), 12);

    // A view item clones both images into new memory; changing the clone leaves the source alone.
    ox::CxViewImageData view;
    view.setImageDeep(image, 1, 2, when);
    view.setOrigImageDeep(orig);
    std::unique_ptr<ox::IxData> viewCopy(view.clone());
    auto* viewClone = dynamic_cast<ox::CxViewImageData*>(viewCopy.get());
    ASSERT_NE(viewClone, nullptr);
    EXPECT_NE(viewClone->image().data, view.image().data);
    EXPECT_NE(viewClone->origImage().data, view.origImage().data);
    EXPECT_TRUE(HasPattern(viewClone->image(), 1) && HasPattern(viewClone->origImage(), 2));
    viewClone->setNull();
    EXPECT_FALSE(view.isNull());
    ox::FreeBuffer(image);
    ox::FreeBuffer(orig);
}

TEST_F(DataItems, MetadataIsCopiedOrMovedIntoTheItem)
{
    ox::CxImageData item;
    ox::CxMetadata metadata, other;
    metadata.addMetadata(new TestMetadata(1));
    other.addMetadata(new TestMetadata(2));
    item.setMetadata(metadata);
    EXPECT_EQ(MetadataValue(item), 1);
    EXPECT_EQ(g_liveMetadata, 3); // a copy
    item.setMetadata(std::move(other));
    EXPECT_EQ(MetadataValue(item), 2);
    EXPECT_EQ(g_liveMetadata, 2); // moved: item 1's copy destroyed, item 2 not copied
}
