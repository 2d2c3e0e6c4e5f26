#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "viewer/playback/core/BmpWriter.h"

class QWidget;

namespace korvex {

class CKorvexDoc;

// Draws the current frame for the file: the picture with its time text, camera title and
// alteration banners, filling a `width` x `height` (4:3) picture exactly as one pane of the view.
// Null image when there is nothing to draw.
using SaveRenderer = std::function<QImage(const CKorvexDoc& doc, int width, int height)>;

// The outcome of a save, with the text to show when it failed.
struct SaveOutcome {
    enum class Status { Saved, NoPicture, TooLarge, RenderFailed, WriteFailed };
    Status status = Status::NoPicture;
    BmpWriteResult write;  // for WriteFailed
    bool saved() const { return status == Status::Saved; }
};

// Bottom-up blue-green-red rows of `image`, each padded to the layout's stride; empty unless the
// image is exactly layout.width x layout.height.
std::vector<std::uint8_t> bottomUpRows(const QImage& image, const SavedBitmapLayout& layout);

// Renders the document's current picture and writes it to `path` (no dialog, no message).
SaveOutcome saveCurrentPicture(const CKorvexDoc& doc, const SaveRenderer& render,
                               const std::string& path);

// The message that tells the user why saving to `path` failed; empty for Saved and NoPicture
// (no picture: Save does nothing, as the command is disabled then anyway).
QString saveFailureText(const SaveOutcome& outcome, const std::string& path);

// The folder the save dialog opens in: the document's `lastSaveFolder` while it exists, else the
// user's home folder.
QString saveDialogFolder(const CKorvexDoc& doc);

// The name the save dialog proposes for the current frame (proposedSaveName); empty without a
// recording.
QString saveDialogName(const CKorvexDoc& doc);

// Command 33001: the save dialog in saveDialogFolder with saveDialogName (".bmp" added when the
// name has no suffix, an existing file replaced only after the user agreed), then the file. A
// failure is shown in a message box. On success the chosen folder becomes `lastSaveFolder`. True
// when a file was written; `savedPath`, when given, then holds its path.
bool saveCurrent(QWidget* parent, CKorvexDoc& doc, const SaveRenderer& render,
                 std::string* savedPath = nullptr);

}  // namespace korvex
