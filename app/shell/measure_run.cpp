#include "measure_run.h"

#include "core/printable.h"
#include "measure/measure_files.h"

#include <QImageReader>
#include <QStringList>
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
    QStringList lines; // one a page
    QString error;
};

} // namespace

int runMeasure(const Options& options, std::FILE* out, std::FILE* err) {
    // Qt refuses to decode pictures above 128 MB by default; here they take what memory holds.
    QImageReader::setAllocationLimit(0);
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
        const std::string file = options.files[i].toStdString();
        auto add = [&](const measure::Result& r, int page, double fileUm) {
            // The pixel size given on the command line holds over the one the file states.
            const measure::RecordInfo info{file, page, options.pixelSize > 0 ? options.pixelSize : fileUm,
                                           describe(settings)};
            rec.lines << QString::fromStdString(csv ? measure::recordCsv(r, info)
                                                    : measure::recordJson(r, info));
            if (!r.error.empty() && rec.error.isEmpty())
                rec.error = page > 0
                                ? QStringLiteral("page %1: %2").arg(page).arg(QString::fromStdString(r.error))
                                : QString::fromStdString(r.error);
        };
        try {
            QString why;
            std::vector<MeasurePage> pages = readMeasurePages(options.files[i], options.size, why);
            if (pages.empty()) {
                measure::Result r;
                r.error = why.toStdString();
                add(r, 0, 0);
            }
            for (MeasurePage& p : pages) {
                add(measure::measure(p.image, background ? &*background : nullptr, rect, settings), p.page,
                    p.pixelSizeUm);
                p.image = measure::Image{}; // measured: its memory goes before the next page's turn
            }
        } catch (const std::bad_alloc&) {
            rec.lines.clear();
            measure::Result r;
            r.error = "not enough memory to measure it";
            add(r, 0, 0);
        }
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
                if (!csv) rec.lines = QStringList{QStringLiteral("{\"error\":\"%1\"}").arg(rec.error)};
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
        for (const QString& line : rec.lines)
            std::fprintf(out, "%s\n", printableUtf8(line).constData());
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
