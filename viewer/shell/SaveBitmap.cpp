#include "viewer/shell/SaveBitmap.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>
#include <cstring>

#include "recording/AuthenticityCheck.h"
#include "recording/DibBlock.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/core/SaveFileName.h"

namespace korvex {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

std::vector<std::uint8_t> bottomUpRows(const QImage& image, const SavedBitmapLayout& layout) {
    if (image.isNull() || image.width() != layout.width || image.height() != layout.height)
        return {};
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull())
        return {};
    std::vector<std::uint8_t> rows(layout.pixelBytes, 0);
    const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * 3;
    for (int y = 0; y < layout.height; ++y) {
        const auto dst = static_cast<std::size_t>(layout.height - 1 - y) * layout.stride;
        std::memcpy(rows.data() + dst, bgr.constScanLine(y), rowBytes);
    }
    return rows;
}

SaveOutcome saveCurrentPicture(const CKorvexDoc& doc, const SaveRenderer& render,
                               const std::string& path) {
    SaveOutcome outcome;
    DibInfo info;
    if (!doc.currentPicture() || !readDibInfo(doc.currentPicture(), info))
        return outcome;  // NoPicture
    const auto layout = savedBitmapLayout(info.width);
    if (!layout) {
        outcome.status = SaveOutcome::Status::TooLarge;
        return outcome;
    }
    std::vector<std::uint8_t> rows;
    if (render)
        rows = bottomUpRows(render(doc, layout->width, layout->height), *layout);
    if (rows.empty()) {
        outcome.status = SaveOutcome::Status::RenderFailed;
        return outcome;
    }
    outcome.write = writeBmpFile(path, *layout, rows);
    outcome.status =
        outcome.write.ok() ? SaveOutcome::Status::Saved : SaveOutcome::Status::WriteFailed;
    return outcome;
}

// The messages of a failed save. The recorder software said nothing at all when the file could
// not be written, which left the user believing the frame was kept.
QString saveFailureText(const SaveOutcome& outcome, const std::string& path) {
    const QString file = QString::fromStdString(path);
    switch (outcome.status) {
        case SaveOutcome::Status::Saved:
        case SaveOutcome::Status::NoPicture:
            return {};
        case SaveOutcome::Status::TooLarge:
            return uiText(
                       "A picture of this size cannot be saved as a bitmap (it must be 2 to "
                       "%1 pixels wide).",
                       "この大きさの画像はビットマップとして保存できません（幅は 2～%1 "
                       "ピクセルです）。")
                .arg(kMaxSavedWidth);
        case SaveOutcome::Status::RenderFailed:
            return uiText("The picture could not be prepared for saving (not enough memory?).",
                          "保存する画像を作成できませんでした（メモリ不足の可能性があります）。");
        case SaveOutcome::Status::WriteFailed:
            break;
    }
    const QString reason = errnoText(outcome.write.error);
    switch (outcome.write.step) {
        case BmpWriteStep::Create:
            return uiText("%1 could not be created: %2\nNothing was saved.",
                          "%1 を作成できませんでした: %2\n保存されていません。")
                .arg(file, reason);
        case BmpWriteStep::Replace:
            return uiText("%1 could not be replaced: %2\nThe file was left as it was.",
                          "%1 を置き換えられませんでした: %2\nファイルは変更されていません。")
                .arg(file, reason);
        default:
            return uiText("Writing %1 failed: %2\nNothing was saved.",
                          "%1 の書き込みに失敗しました: %2\n保存されていません。")
                .arg(file, reason);
    }
}

QString saveDialogFolder(const CKorvexDoc& doc) {
    const QString last = QString::fromStdString(doc.lastSaveFolder());
    // The home folder stands for the recorder software's "C:\"; a folder that went away since
    // the last save would leave the dialog wherever the program was started.
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

QString saveDialogName(const CKorvexDoc& doc) {
    const ImageSource* source = doc.source();
    if (source == nullptr)
        return {};
    // The time the overlay shows: none for a frame without a valid time, or not yet checked.
    const std::int64_t time =
        (source->currentFlags() & kNoValidTime) != 0 ? 0 : source->currentTime();
    return QString::fromStdString(
        proposedSaveName(doc.lastOpenFolder(), time, source->currentIndex()));
}

bool saveCurrent(QWidget* parent, CKorvexDoc& doc, const SaveRenderer& render,
                 std::string* savedPath) {
    if (!doc.currentPicture())
        return false;
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setNameFilter(resString(50106));  // "bitmap (*.bmp)"
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setDirectory(saveDialogFolder(doc));
    dialog.selectFile(saveDialogName(doc));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString chosen = dialog.selectedFiles().constFirst();
    const std::string path = chosen.toStdString();

    const SaveOutcome outcome = saveCurrentPicture(doc, render, path);
    if (!outcome.saved()) {
        const QString message = saveFailureText(outcome, path);
        if (!message.isEmpty())
            QMessageBox::warning(parent, parent ? parent->window()->windowTitle() : QString(),
                                 message);
        return false;
    }
    doc.setLastSaveFolder(QFileInfo(chosen).absolutePath().toStdString());
    if (savedPath != nullptr)
        *savedPath = path;
    return true;
}

}  // namespace korvex
