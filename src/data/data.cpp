#include <ox/data.h>

#include "data/data_internal.h"

#include <atomic>
#include <utility>

namespace ox {

namespace {

// IxData instances alive; changed by any thread that creates or destroys an item.
std::atomic<int> g_liveItems{0};

} // namespace

namespace detail {

int LiveDataItemCount()
{
    return g_liveItems.load(std::memory_order_relaxed);
}

} // namespace detail

IxDataInfo::~IxDataInfo() = default;

IxData::IxData(QObject* parent) : QObject(parent)
{
    g_liveItems.fetch_add(1, std::memory_order_relaxed);
}

IxData::~IxData()
{
    g_liveItems.fetch_sub(1, std::memory_order_relaxed);
}

CxMetadata& IxData::metadata()
{
    return m_metadata;
}

const CxMetadata& IxData::metadata() const
{
    return m_metadata;
}

void IxData::setMetadata(CxMetadata&& metadata)
{
    m_metadata = std::move(metadata);
}

void IxData::setMetadata(const CxMetadata& metadata)
{
    m_metadata = metadata;
}

} // namespace ox
