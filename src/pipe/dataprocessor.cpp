// Processors: link rules and the description of what they receive and make.

#include <ox/dataprocessor.h>

#include <ox/data.h>
#include <ox/dataconsumer.h>
#include <ox/datasource.h>
#include <ox/metadata.h>

#include <memory>

namespace ox {

IxDataProcessor::IxDataProcessor(ExFlags flags) : IxPipeItem(flags)
{
    renameThread();
}

IxDataProcessor::~IxDataProcessor() = default;

bool IxDataProcessor::acceptAsSuccessor(IxPipeItem* item)
{
    return qobject_cast<IxDataProcessor*>(item) || qobject_cast<IxDataConsumer*>(item);
}

bool IxDataProcessor::acceptAsPrecedessor(IxPipeItem* item)
{
    return qobject_cast<IxDataSource*>(item) || qobject_cast<IxDataProcessor*>(item);
}

bool IxDataProcessor::currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata)
{
    // The links lock suffices: taking the predecessor's item lock under ours would invert the
    // downstream order in which start() takes item locks.
    IxPipeItem* first = precedessors().value(0);
    return first && first->currentOutputDataInfo(input, metadata);
}

bool IxDataProcessor::currentOutputDataInfo(IxDataInfo*& output, CxMetadata* metadata)
{
    output = nullptr;
    IxDataInfo* raw = nullptr;
    CxMetadata inputMetadata;
    if (!currentInputDataInfo(raw, &inputMetadata))
        return false;
    std::unique_ptr<IxDataInfo> input(raw);
    return queryOutputDataInfo(input.get(), output, &inputMetadata, metadata);
}

} // namespace ox
