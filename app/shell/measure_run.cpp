#include "measure_run.h"

#include "core/measure_files.h"

#include <QThread>
#include <atomic>
#include <thread>

namespace tovra {

int runMeasure(const Options& options, std::FILE* out, std::FILE* err) {
    std::optional<measure::Image> background;
    if (!options.background.isEmpty()) {
        QString why;
        background = readMeasureImage(options.background, options.size, why);
        if (!background) {
            std::fprintf(err, "%s: %s\n", qPrintable(options.background), qPrintable(why));
            return 2;
        }
    }
    std::optional<measure::Rect> rect;
    if (options.rect.size() == 4)
        rect = measure::Rect{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
    const measure::Settings settings;
    const qsizetype n = options.files.size();
    std::vector<measure::Result> results(static_cast<size_t>(n));
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (qsizetype i; (i = next++) < n;) {
            QString why;
            const auto image = readMeasureImage(options.files[i], options.size, why);
            if (!image) {
                results[static_cast<size_t>(i)].error = why.toStdString();
                continue;
            }
            results[static_cast<size_t>(i)] =
                measure::measure(*image, background ? &*background : nullptr, rect, settings);
        }
    };
    const int jobs = std::max(
        1, std::min<int>(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(), static_cast<int>(n)));
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t)
        threads.emplace_back(work);
    work();
    for (auto& t : threads)
        t.join();

    const bool csv = options.format == QLatin1String("csv");
    if (csv) std::fprintf(out, "%s\n", qPrintable(measurementCsvHeader()));
    int failed = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const measure::Result& r = results[static_cast<size_t>(i)];
        const QString line = csv ? measurementCsv(options.files[i], r, settings, options.pixelSize)
                                 : measurementJson(options.files[i], r, settings, options.pixelSize);
        std::fprintf(out, "%s\n", line.toUtf8().constData());
        if (!r.error.empty()) {
            ++failed;
            std::fprintf(err, "%s: %s\n", qPrintable(options.files[i]), r.error.c_str());
        }
    }
    return failed == 0 ? 0 : 1;
}

} // namespace tovra
