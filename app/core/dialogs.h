// File dialogs as the procedures see them. A queued answer is used instead of showing a dialog,
// which is how tests (and scripted runs) drive the buttons that ask for a file.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

namespace tovra {

class FileDialogs {
public:
    // What a dialog returns: the chosen full path, or nothing when cancelled.
    using Answer = std::optional<QString>;
    // filter: "description|pattern|description|pattern...", patterns joined by ";". `suggested`:
    // the folder and name a save dialog opens with (empty: the toolkit's own choice).
    using Show = std::function<Answer(bool save, const QString& filter, const QString& suggested)>;

    void setPlatform(Show show) { show_ = std::move(show); }
    // How a message reaches the user; without one it is only kept as the last message.
    void setMessagePlatform(std::function<void(const QString&)> show) { showMessage_ = std::move(show); }
    void inform(const QString& text) {
        lastMessage_ = text;
        if (showMessage_) showMessage_(text);
    }
    const QString& lastMessage() const { return lastMessage_; }

    // A question with the buttons Yes, No and Cancel. Queued replies answer first (tests); with no
    // platform and no reply queued the answer is Cancel.
    enum class Reply { Yes, No, Cancel };
    void setQuestionPlatform(std::function<Reply(const QString&)> ask) { ask_ = std::move(ask); }
    void queueReply(Reply r) { replies_.push_back(r); }
    Reply ask(const QString& question) {
        lastQuestion_ = question;
        ++questions_;
        if (!replies_.empty()) {
            const Reply r = replies_.front();
            replies_.pop_front();
            return r;
        }
        return ask_ ? ask_(question) : Reply::Cancel;
    }
    int questionsAsked() const { return questions_; }
    const QString& lastQuestion() const { return lastQuestion_; }
    // The next dialogs return these answers, in order, without showing anything.
    void queueAnswer(Answer a) { queued_.push_back(std::move(a)); }
    // The filter of the last dialog asked for, and the name it suggested.
    const QString& lastFilter() const { return lastFilter_; }
    const QString& lastSuggested() const { return lastSuggested_; }

    Answer openFileName(const QString& filter) { return ask(false, filter); }
    // A folder rather than a file: the platform is asked with this filter.
    static QString folderFilter() { return QStringLiteral("フォルダ|<folder>"); }
    Answer folderName() { return ask(false, folderFilter()); }
    Answer saveFileName(const QString& filter) { return ask(true, filter); }
    // A save dialog for an export: it opens at `suggested` (the picture's folder and a name made
    // from it), and a name typed without a suffix gets the filter's first one (".csv").
    Answer exportFileName(const QString& filter, const QString& suggested) {
        Answer a = ask(true, filter, suggested);
        if (a && !a->isEmpty() && !a->section(QLatin1Char('/'), -1).contains(QLatin1Char('.'))) {
            const QString pattern = filter.section(QLatin1Char('|'), 1, 1).section(QLatin1Char(';'), 0, 0);
            if (pattern.startsWith(QStringLiteral("*.")) && pattern.size() > 2) *a += pattern.mid(1);
        }
        return a;
    }

    // A filter in the dialog toolkit's form: "desc (*.a *.b);;desc (*.c)".
    static QString toQtFilter(const QString& filter);

private:
    Answer ask(bool save, const QString& filter, const QString& suggested = {}) {
        lastFilter_ = filter;
        lastSuggested_ = suggested;
        if (!queued_.empty()) {
            std::optional<QString> a;
            a.swap(queued_.front());
            queued_.pop_front();
            return a;
        }
        return show_ ? show_(save, filter, suggested) : std::nullopt;
    }

    Show show_;
    std::function<void(const QString&)> showMessage_;
    std::function<Reply(const QString&)> ask_;
    std::deque<Reply> replies_;
    QString lastQuestion_;
    int questions_ = 0;
    QString lastMessage_;
    std::deque<Answer> queued_;
    QString lastFilter_, lastSuggested_;
};

} // namespace tovra
