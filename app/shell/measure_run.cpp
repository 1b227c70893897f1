#include "measure_run.h"

#include "measure/measure_files.h"
#include "core/printable.h"

#include <QThread>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace tovra {

namespace {

// One file's record as it is printed, the measurement's buffers already gone.
struct Record {
    QString line;
    QString error;
};

} // namespace

int runMeasure(const Options& options, std::FILE* out, std::FILE* err) {
    std::optional<measure::Image> background;
    if (!options.background.isEmpty()) {
        QString why;
        try {
            background = readMeasureImage(options.background, options.size, why);
        } catch (const std::bad_alloc&) {
            why = QStringLiteral("not enough memory to read it");
        }
        if (!background) {
            std::fprintf(err, "%s: %s\n", printableUtf8(options.background).constData(),
                         printableUtf8(why).constData());
            return 2;
        }
    }
    std::optional<measure::Rect> rect;
    if (options.rect.size() == 4)
        rect = measure::Rect{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
    const measure::Settings settings;
    const bool csv = options.format == QLatin1String("csv");
    const qsizetype n = options.files.size();

    // A file's record is made by whichever worker measures it and printed as soon as it and every
    // record before it are done; only records waiting for an earlier one are kept, and no worker
    // runs more than a few files ahead, so a long series needs no more memory than a short one.
    auto recordOf = [&](qsizetype i) {
        Record rec;
        measure::Result r;
        try {
            QString why;
            const auto image = readMeasureImage(options.files[i], options.size, why);
            if (image)
                r = measure::measure(*image, background ? &*background : nullptr, rect, settings);
            else
                r.error = why.toStdString();
        } catch (const std::bad_alloc&) {
            r = measure::Result{};
            r.error = "not enough memory to measure it";
        }
        const measure::RecordInfo info{options.files[i].toStdString(), 0, options.pixelSize, describe(settings)};
        rec.line = QString::fromStdString(csv ? measure::recordCsv(r, info) : measure::recordJson(r, info));
        rec.error = QString::fromStdString(r.error);
        return rec;
    };
    const int jobs = std::max(
        1, std::min<int>(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(), static_cast<int>(n)));
    const qsizetype window = static_cast<qsizetype>(jobs) * 2;
    std::mutex m;
    std::condition_variable ready, room;
    std::map<qsizetype, Record> done;
    qsizetype taken = 0, printed = 0;
    auto worker = [&] {
        for (;;) {
            qsizetype i;
            {
                std::unique_lock<std::mutex> lock(m);
                room.wait(lock, [&] { return taken >= n || taken < printed + window; });
                if (taken >= n) return;
                i = taken++;
            }
            Record rec;
            try {
                rec = recordOf(i);
            } catch (const std::bad_alloc&) { // not even the record's text could be made
                rec.error = QStringLiteral("not enough memory to measure it");
                rec.line = csv ? QString() : QStringLiteral("{\"error\":\"%1\"}").arg(rec.error);
            }
            {
                std::lock_guard<std::mutex> lock(m);
                done.emplace(i, std::move(rec));
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(jobs));
    for (int t = 0; t < jobs; ++t)
        threads.emplace_back(worker);

    if (csv) std::fprintf(out, "%s\n", measure::recordCsvHeader().c_str());
    int failed = 0;
    for (; printed < n; ++printed) {
        Record rec;
        {
            std::unique_lock<std::mutex> lock(m);
            ready.wait(lock, [&] { return done.count(printed) > 0; });
            auto it = done.find(printed);
            rec = std::move(it->second);
            done.erase(it);
        }
        room.notify_all();
        if (!rec.line.isEmpty()) std::fprintf(out, "%s\n", printableUtf8(rec.line).constData());
        std::fflush(out);
        if (!rec.error.isEmpty()) {
            ++failed;
            std::fprintf(err, "%s: %s\n", printableUtf8(options.files[printed]).constData(),
                         printableUtf8(rec.error).constData());
        }
    }
    for (auto& t : threads)
        t.join();
    return failed == 0 ? 0 : 1;
}

} // namespace tovra
