#include "about_window.h"

#include "version.h"
#include "widgets/form_layout.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tovra {

QString AboutWindow::title() {
    return QStringLiteral("Tovra");
}

QString AboutWindow::versionText() {
    return QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
        .arg(TOVRA_VERSION_MAJOR)
        .arg(TOVRA_VERSION_MINOR)
        .arg(TOVRA_VERSION_PATCH);
}

AboutWindow::AboutWindow(std::function<QString()> systemInformation, QWidget* parent)
    : QDialog(parent), systemInformation_(std::move(systemInformation)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(title() + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    setFixedSize(twips(5730), twips(3555));

    auto* icon = place<QLabel>(this, "picIcon", at(240, 240, 540, 540));
    icon->setPixmap(QPixmap(QStringLiteral(":/tovra/icon.png"))
                        .scaled(icon->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto label = [&](const char* name, const QString& text, QRect g) {
        auto* l = place<QLabel>(this, name, g);
        l->setText(text);
        l->setWordWrap(true);
        return l;
    };
    QFont big = font();
    big.setPixelSize(16);
    big.setBold(true);
    label("lblTitle", title(), at(1050, 240, 4560, 480))->setFont(big);
    label("lblVersion", versionText(), at(1050, 780, 4560, 225));
    label(
        "lblDescription",
        QStringLiteral("磁区（ストライプ・迷路模様）の顕微鏡像を整え、その幅と間隔を測る画像解析プログラム"),
        at(1050, 1125, 4560, 630));
    label("lblDisclaimer",
          QStringLiteral("警告: このプログラムは現状のまま提供され、結果の正しさは保証されません。"
                         "論文に使う数値は元の画像と照らし合わせて確かめてください。"),
          at(255, 2100, 3870, 825));
    for (int i = 0; i < 2; ++i) { // Line1: an etched pair
        auto* line = place<QFrame>(this, i == 0 ? "Line1(0)" : "Line1(1)", at(105, 1950 + 15 * i, 5520, 15));
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(i == 0 ? QFrame::Sunken : QFrame::Raised);
    }
    auto* ok = place<QPushButton>(this, "cmdOK", at(4245, 2100, 1260, 345));
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* info = place<QPushButton>(this, "cmdSysInfo", at(4245, 2550, 1260, 345));
    info->setText(QStringLiteral("ｼｽﾃﾑ情報(&S)..."));
    connect(info, &QPushButton::clicked, this, &AboutWindow::showSystemInformation);
}

void AboutWindow::showSystemInformation() {
    const QString text = systemInformation_ ? systemInformation_() : QString();
    if (text.isEmpty()) {
        QMessageBox::information(this, title(), QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("systemInformation"));
    dialog.setWindowTitle(QStringLiteral("ｼｽﾃﾑ情報"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(text, &dialog);
    view->setObjectName(QStringLiteral("text"));
    view->setReadOnly(true);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton* copy = buttons->addButton(QStringLiteral("コピー"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, &dialog, [text] { QApplication::clipboard()->setText(text); });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(560, 320);
    dialog.exec();
}

} // namespace tovra
