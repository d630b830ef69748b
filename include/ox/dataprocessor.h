#pragma once

#include <ox/pipeitem.h>

namespace ox {

// A pipe item between a source and consumers: turns each input frame into an output frame
// (processData) on its worker thread. Accepts sources and processors before it and processors and
// consumers after it.
class OX_EXPORT IxDataProcessor : public IxPipeItem
{
    Q_OBJECT
public:
    explicit IxDataProcessor(ExFlags flags = ExFlags());
    ~IxDataProcessor() override;

    bool acceptAsSuccessor(IxPipeItem* item) override;
    bool acceptAsPrecedessor(IxPipeItem* item) override;
    // The first predecessor's output description; false without predecessors.
    bool currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata) override;
    // queryOutputDataInfo() applied to the current input.
    bool currentOutputDataInfo(IxDataInfo*& output, CxMetadata* metadata) override;
};

} // namespace ox
