// Saving and loading a metadata container through the type registry and XML text.
//
// The container holds 1,000 items of a registered class with a registered saver and loader, so
// every item pays for the registry look-up of its saver or loader (a new instance each time), the
// DOM work and the text. The baseline builds, prints and parses the same XML with the DOM alone
// (no registry, no items); `vs_dom` is the round trip's time over the baseline's, measured in the
// same run. Target: a round trip of 1,000 items under 20 ms.

#include <ox/metadata.h>
#include <ox/rtti.h>

#include <benchmark/benchmark.h>

#include "compare.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace benchmeta {

// A metadata item with a few fields, like a small camera record.
class CxSampleItem : public ox::IxMetadataItem
{
    Q_OBJECT
public:
    Q_INVOKABLE CxSampleItem() = default;
    IxMetadataItem* clone() const override
    {
        auto* copy = new CxSampleItem;
        copy->name = name;
        copy->exposure = exposure;
        copy->gain = gain;
        return copy;
    }
    QString name;
    double exposure = 0.0;
    int gain = 0;
};

class CxSampleSaver : public ox::IxMetadataSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxSampleSaver() = default;
    bool saveItem(QDomDocument& document, QDomElement& element, const ox::IxMetadataItem* item) override
    {
        const auto* sample = qobject_cast<const CxSampleItem*>(item);
        if (!sample)
            return false;
        AppendField(document, element, QStringLiteral("name"), sample->name);
        AppendField(document, element, QStringLiteral("exposure"), QString::number(sample->exposure));
        AppendField(document, element, QStringLiteral("gain"), QString::number(sample->gain));
        return true;
    }
    QStringList supportedClasses() override { return {QStringLiteral("benchmeta::CxSampleItem")}; }

    static void AppendField(QDomDocument& document, QDomElement& element, const QString& tag,
                            const QString& value)
    {
        QDomElement field = document.createElement(tag);
        field.appendChild(document.createTextNode(value));
        element.appendChild(field);
    }
};

class CxSampleLoader : public ox::IxMetadataLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxSampleLoader() = default;
    bool loadItem(const QDomElement& element, ox::IxMetadataItem* item) override
    {
        auto* sample = qobject_cast<CxSampleItem*>(item);
        if (!sample)
            return false;
        sample->name = element.firstChildElement(QStringLiteral("name")).text();
        sample->exposure = element.firstChildElement(QStringLiteral("exposure")).text().toDouble();
        sample->gain = element.firstChildElement(QStringLiteral("gain")).text().toInt();
        return true;
    }
    QStringList supportedClasses() override { return {QStringLiteral("benchmeta::CxSampleItem")}; }
};

// A registered saver and loader for another class, looked at (created and dropped) before the
// right one in about half of the look-ups, as in a registry that serves several item kinds.
class CxOtherSaver : public CxSampleSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxOtherSaver() = default;
    QStringList supportedClasses() override { return {QStringLiteral("benchmeta::CxOther")}; }
};

class CxOtherLoader : public CxSampleLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxOtherLoader() = default;
    QStringList supportedClasses() override { return {QStringLiteral("benchmeta::CxOther")}; }
};

} // namespace benchmeta

namespace {

constexpr int kItems = 1000;

void RegisterClasses()
{
    static const bool registered = [] {
        ox::CxRtti* rtti = ox::CxRtti::instance();
        rtti->registerClass(nullptr, benchmeta::CxSampleItem::staticMetaObject, "IxMetadata");
        rtti->registerClass(nullptr, benchmeta::CxSampleSaver::staticMetaObject, "IxMetadataSaver");
        rtti->registerClass(nullptr, benchmeta::CxSampleLoader::staticMetaObject, "IxMetadataLoader");
        rtti->registerClass(nullptr, benchmeta::CxOtherSaver::staticMetaObject, "IxMetadataSaver");
        rtti->registerClass(nullptr, benchmeta::CxOtherLoader::staticMetaObject, "IxMetadataLoader");
        return true;
    }();
    (void)registered;
}

void Fill(ox::CxMetadata& metadata)
{
    for (int i = 0; i < kItems; ++i) {
        auto* item = new benchmeta::CxSampleItem;
        item->name = QStringLiteral("camera %1").arg(i);
        item->exposure = 0.001 * (i + 1);
        item->gain = i % 32;
        metadata.addMetadata(item);
    }
}

void SetPerItem(benchmark::State& state)
{
    state.counters["per_item"] = benchmark::Counter(
        double(state.iterations()) * kItems, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The DOM alone: build the same document, print it and parse it again.
QString BaselineRoundTrip()
{
    QDomDocument document;
    QDomElement list = document.createElement(QStringLiteral("ox_metadata_list"));
    for (int i = 0; i < kItems; ++i) {
        QDomElement element = document.createElement(QStringLiteral("ox_metadata"));
        element.setAttribute(QStringLiteral("class"), QStringLiteral("benchmeta::CxSampleItem"));
        benchmeta::CxSampleSaver::AppendField(document, element, QStringLiteral("name"),
                                              QStringLiteral("camera %1").arg(i));
        benchmeta::CxSampleSaver::AppendField(document, element, QStringLiteral("exposure"),
                                              QString::number(0.001 * (i + 1)));
        benchmeta::CxSampleSaver::AppendField(document, element, QStringLiteral("gain"),
                                              QString::number(i % 32));
        list.appendChild(element);
    }
    document.appendChild(list);
    const QString text = document.toString(1);
    QDomDocument parsed;
    parsed.setContent(text, false);
    return parsed.documentElement().tagName();
}

void BM_MetadataSave(benchmark::State& state)
{
    RegisterClasses();
    ox::CxMetadata metadata;
    Fill(metadata);
    for (auto _ : state)
        benchmark::DoNotOptimize(metadata.saveToXml(1));
    SetPerItem(state);
}

void BM_MetadataLoad(benchmark::State& state)
{
    RegisterClasses();
    ox::CxMetadata source;
    Fill(source);
    const QString xml = source.saveToXml(1);
    ox::CxMetadata target;
    for (auto _ : state) {
        if (!target.loadFromXml(xml))
            state.SkipWithError("loading failed");
    }
    SetPerItem(state);
}

void BM_MetadataRoundTrip(benchmark::State& state)
{
    RegisterClasses();
    ox::CxMetadata source;
    Fill(source);
    ox::CxMetadata target;
    // The baseline runs between the measured round trips (outside the benchmark's timing), so
    // that both see the same machine load.
    QElapsedTimer timer;
    qint64 roundTripNs = 0;
    qint64 baselineNs = 0;
    for (auto _ : state) {
        timer.start();
        if (!target.loadFromXml(source.saveToXml(1)))
            state.SkipWithError("loading failed");
        roundTripNs += timer.nsecsElapsed();
        state.PauseTiming();
        timer.start();
        benchmark::DoNotOptimize(BaselineRoundTrip());
        baselineNs += timer.nsecsElapsed();
        state.ResumeTiming();
    }
    if (target.metadata().size() != kItems)
        state.SkipWithError("items were lost");
    SetPerItem(state);
    state.counters["vs_dom"] = baselineNs > 0 ? double(roundTripNs) / double(baselineNs) : 0.0;
}

void BM_DomBaselineRoundTrip(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(BaselineRoundTrip());
    SetPerItem(state);
}

} // namespace

BENCHMARK(BM_MetadataSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetadataLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetadataRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DomBaselineRoundTrip)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return oxbench::RunBenchmarks(argc, argv, [] {});
}

#include "metadata_bench.moc"
