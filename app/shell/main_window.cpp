#include "main_window.h"

#include "core/module.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>

namespace tovra {

namespace {

class SizeButton : public QLabel {
public:
    SizeButton(const QString& text, QWidget* parent, std::function<void()> click)
        : QLabel(text, parent), click_(std::move(click)) {
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
        setForegroundRole(QPalette::Text);
        setAlignment(Qt::AlignCenter);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    // Taking the press makes the release come here too.
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (rect().contains(e->position().toPoint())) click_();
    }

private:
    std::function<void()> click_;
};

} // namespace

MainWindow::MainWindow(Module& module, Actions actions, QWidget* parent)
    : QMainWindow(parent), module_(module), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("Tovra"));
    setWindowTitle(QStringLiteral("Tovra"));
    auto* client = new QWidget(this);
    client->setFixedSize(twips(6930), twips(420));
    setCentralWidget(client);

    autoDraw_ = new QCheckBox(QStringLiteral("自動描画"), client);
    autoDraw_->setObjectName(QStringLiteral("Ch1"));
    autoDraw_->setGeometry(0, 0, twips(1095), twips(495));
    AppState& st = module.state();
    connect(autoDraw_, &QCheckBox::toggled, this, [&st](bool on) { st.setAutoDraw(on); });

    Module* m = &module;
    struct Preset {
        const char* name;
        int left, w, h;
    };
    for (Preset p : {Preset{"Label1", 1320, 256, 256}, Preset{"Label2", 2400, 512, 512},
                     Preset{"Label3", 3480, 1024, 1024}, Preset{"Label5", 4560, 640, 480}}) {
        auto* b = new SizeButton(QStringLiteral("%1×%2").arg(p.w).arg(p.h), client,
                                 [m, p] { m->presetSize(p.w, p.h); });
        b->setObjectName(QLatin1String(p.name));
        b->setGeometry(twips(p.left), twips(120), twips(975), twips(255));
    }

    auto item = [&](const char* name, const QString& caption, std::function<void()> action) {
        QAction* a = menuBar()->addAction(caption);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, [action = std::move(action)] {
            if (action) action();
        });
        return a;
    };
    item("en", QStringLiteral("終了"), actions_.exit);
    item("imo", QStringLiteral("イメージ"), actions_.showImage);
    item("infoo", QStringLiteral("情報"), actions_.showInfo);
    item("toolo", QStringLiteral("道具箱"), actions_.showToolbox);
    help_ = menuBar()->addMenu(QStringLiteral("ヘルプ"));
    help_->setObjectName(QStringLiteral("he"));
    help_->menuAction()->setObjectName(QStringLiteral("he"));
    QAction* page = help_->addAction(QStringLiteral("解説HP"));
    page->setObjectName(QStringLiteral("he1"));
    connect(page, &QAction::triggered, this, [this] { actions_.openHelp(); });
    QAction* mail = help_->addAction(QStringLiteral("作者にメール"));
    mail->setObjectName(QStringLiteral("mmail"));
    connect(mail, &QAction::triggered, this, [this] { actions_.mailAuthor(); });
    help_->addSeparator()->setObjectName(QStringLiteral("he2"));
    QAction* about = help_->addAction(QStringLiteral("バージョン情報"));
    about->setObjectName(QStringLiteral("he3"));
    connect(about, &QAction::triggered, this, [this] {
        if (actions_.showAbout) actions_.showAbout();
    });

    fitMenus();
    connect(&st, &AppState::changed, this, &MainWindow::refresh);
    refresh();
}

QAction* MainWindow::addWindowItem(const char* name, const QString& caption, std::function<void()> action) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, [action = std::move(action)] { action(); });
    menuBar()->insertAction(help_->menuAction(), a);
    return a;
}

QMenu* MainWindow::addWindowMenu(const char* name, const QString& caption) {
    QMenu* menu = new QMenu(caption, this);
    menu->setObjectName(QLatin1String(name));
    menu->menuAction()->setObjectName(QLatin1String(name));
    menuBar()->insertMenu(help_->menuAction(), menu);
    return menu;
}

QAction* MainWindow::addMenuItem(QMenu* menu, const char* name, const QString& caption,
                                 std::function<void()> action) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return a;
}

void MainWindow::setWorkFolder(const QString& folder) {
    auto* label = findChild<QLabel*>(QStringLiteral("workFolder"));
    if (label == nullptr) {
        label = new QLabel(this);
        label->setObjectName(QStringLiteral("workFolder"));
        statusBar()->addWidget(label, 1);
        statusBar()->setSizeGripEnabled(false);
    }
    const QString text = QStringLiteral("作業フォルダ: %1").arg(QDir::toNativeSeparators(folder));
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, centralWidget()->width()));
    label->setToolTip(text);
    fitMenus();
}

void MainWindow::refresh() {
    if (autoDraw_->isChecked() != module_.state().autoDraw())
        autoDraw_->setChecked(module_.state().autoDraw());
}

void MainWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    if (actions_.exit) actions_.exit();
}

} // namespace tovra

namespace tovra {

// As wide as its menus, so that none (ヘルプ last) hides behind the bar's overflow button.
void MainWindow::fitMenus() {
    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), menuBar()->sizeHint().width()), hint.height());
}

} // namespace tovra
