#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <functional>
#include <vector>

#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/ResourceText.h"
#include "viewer/resources/StringTable.h"

class QAction;
class QMenu;
class QMenuBar;
class QObject;

namespace korvex {

// Registers the compiled-in pictures. The viewer's UI is a static library, so the program and
// every test that loads pictures calls this once (loading also calls it on first use).
void initResources();

// A command's help string split at its newline: the status-bar text and the tooltip.
QString resStatusHelp(int commandId);
QString resToolTip(int commandId);

// A picture resource as stored: 24-bit, magenta (255, 0, 255) marking transparent pixels.
// Null when the resource does not exist.
QImage loadPicture(ResourceKind kind, int id);
inline QImage loadBitmap(int id) {
    return loadPicture(ResourceKind::Bitmap, id);
}
// The picture with its magenta pixels made transparent, for icons and toolbar buttons.
QPixmap keyedPixmap(const QImage& picture);
// The toolbar button of `commandId` cut from toolbar strip 127; null icon when not on it.
QIcon toolbarIcon(int commandId);
// The program icon of a brand's template id (127, 128, 129, 179).
QIcon programIcon(int templateId);

// ---- Menus ----

// Returns the action for a command (creating it or handing back a shared one, so that the
// toolbar and the menu trigger the same action). `text` is the resource text, possibly with a
// shortcut after "\t" (createCommandAction takes it apart).
using ActionForCommand = std::function<QAction*(int commandId, const QString& text)>;

// A new action for `commandId`: its text, the shortcut written after "\t" in `menuText`, the
// status tip from the command's help string, objectName "cmd<id>" and data() = the id.
QAction* createCommandAction(int commandId, const QString& menuText, QObject* parent);

// Fills a menu bar (or one menu) from a menu resource (menuResource in the UI language).
void populateMenuBar(QMenuBar* bar, const std::vector<MenuEntry>& menus,
                     const ActionForCommand& actionFor);
void populateMenu(QMenu* menu, const std::vector<MenuEntry>& items,
                  const ActionForCommand& actionFor);

}  // namespace korvex
