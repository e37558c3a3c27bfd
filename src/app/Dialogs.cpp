#include "app/Dialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace kino {

QString StandardErrorText(const QString& text)
{
    if (text.isEmpty())
        return text;
    const QByteArray bytes = text.toUtf8();
    if (static_cast<unsigned char>(bytes.back()) > static_cast<unsigned char>('.'))
        return text + QLatin1Char('.');
    return text;
}

QStringList OpenDialogFilters()
{
    return {
        QStringLiteral("メディアファイル (すべての種類) (*.avi *.mpg *.mpeg *.wav *.wave *.mid *.midi)"),
        QStringLiteral("AVI ファイル (*.avi)"),
        QStringLiteral("MPEG ファイル (*.mpg *.mpeg)"),
        QStringLiteral("WAVE ファイル (*.wav *.wave)"),
        QStringLiteral("MIDI ファイル (*.mid *.midi)"),
    };
}

void QtDialogs::ShowError(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("KINOLITE"), StandardErrorText(text), QMessageBox::Ok, owner);
    box.exec();
}

bool QtDialogs::OpenFiles(QWidget* owner, std::vector<std::string>& files)
{
    QFileDialog dialog(owner, QStringLiteral("ファイルを開く"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(OpenDialogFilters());
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    // Qt's own dialog, not the desktop's: it matches patterns regardless of case.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    files.clear();
    for (const QString& f : dialog.selectedFiles())
        files.push_back(QFile::encodeName(f).toStdString());
    return true;
}

std::string QtDialogs::BrowseFolder(QWidget* owner)
{
    const QString dir = QFileDialog::getExistingDirectory(owner, QStringLiteral("ルートフォルダの選択"), QString(),
                                                          QFileDialog::ShowDirsOnly);
    return dir.isEmpty() ? std::string() : QFile::encodeName(dir).toStdString();
}

std::string QtDialogs::InputUrl(QWidget* owner)
{
    QInputDialog box(owner);
    box.setWindowTitle(QStringLiteral("開く"));
    box.setLabelText(QStringLiteral("マルチメディアファイルへの URL を入力します。"));
    box.setTextValue(QString());
    box.setOkButtonText(QStringLiteral("OK"));
    box.setCancelButtonText(QStringLiteral("キャンセル"));
    box.resize(420, box.sizeHint().height());
    if (box.exec() != QDialog::Accepted)
        return {};
    return box.textValue().toStdString();
}

bool QtDialogs::ConfirmReset(QWidget* owner)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"),
                    QStringLiteral("プレイリストを初期化してもよろしいですか？"), QMessageBox::NoButton, owner);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void QtDialogs::ShowMessage(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KINOLITE"), text, QMessageBox::Ok, owner);
    // Centred on the screen, not on the window that asked.
    box.adjustSize();
    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        QRect r = box.frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        box.move(r.topLeft());
    }
    box.exec();
}

} // namespace kino
