// The progress line of a long headless run, on a terminal only: how many of the items are done,
// how many a second, and the time left, redrawn in place below the run's own lines.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace tovra {

class ProgressLine {
public:
    ProgressLine(std::FILE* err, size_t total, const char* unit)
        : err_(err), total_(total), unit_(unit), on_(::isatty(::fileno(err)) != 0) {
        clock_.start();
    }
    // Takes the line away before something else is written to the terminal.
    void clear() {
        if (on_ && shown_) std::fprintf(err_, "\r\033[K");
        shown_ = false;
    }
    // Shows `done` of the items; nothing once all are done.
    void show(size_t done) {
        if (!on_ || done >= total_) return;
        const double seconds = static_cast<double>(clock_.elapsed()) / 1000;
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
        std::fprintf(err_, "[%zu/%zu] %.1f %s/s, %s left", done, total_, rate, unit_,
                     qPrintable(timeText(left)));
        std::fflush(err_);
        shown_ = true;
    }
    static QString timeText(double seconds) {
        const qint64 s = std::llround(seconds);
        return s >= 3600 ? QStringLiteral("%1:%2:%3")
                               .arg(s / 3600)
                               .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(s % 60, 2, 10, QLatin1Char('0'))
                         : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    }

private:
    std::FILE* err_;
    size_t total_;
    const char* unit_;
    bool on_, shown_ = false;
    QElapsedTimer clock_;
};

} // namespace tovra
