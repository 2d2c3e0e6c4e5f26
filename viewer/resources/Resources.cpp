#include "viewer/resources/Resources.h"

#include <QAction>
#include <QBitmap>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <mutex>
#include <optional>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerKorvexResources() {
    Q_INIT_RESOURCE(korvex);
}

namespace korvex {

namespace {

std::once_flag resourcesOnce;

QString picturePath(ResourceKind kind, int id) {
    const char* folder = kind == ResourceKind::Toolbar ? "toolbar"
                         : kind == ResourceKind::Icon  ? "icons"
                                                       : "bitmaps";
    return QStringLiteral(":/korvex/%1/%2.png").arg(QLatin1String(folder)).arg(id);
}

QString helpPart(int commandId, int part) {
    const QString help = resString(commandId);
    const qsizetype nl = help.indexOf(QLatin1Char('\n'));
    if (part == 0)
        return nl < 0 ? help : help.left(nl);
    return nl < 0 ? QString() : help.mid(nl + 1);
}

}  // namespace

void initResources() {
    std::call_once(resourcesOnce, registerKorvexResources);
}

QString resStatusHelp(int commandId) {
    return helpPart(commandId, 0);
}
QString resToolTip(int commandId) {
    return helpPart(commandId, 1);
}

QImage loadPicture(ResourceKind kind, int id) {
    initResources();
    QImage image(picturePath(kind, id));
    if (image.isNull())
        return image;
    return image.convertToFormat(QImage::Format_RGB888);
}

QPixmap keyedPixmap(const QImage& picture) {
    if (picture.isNull())
        return {};
    QPixmap pixmap = QPixmap::fromImage(picture);
    // Mask bits mark the key colour; a bitmap mask leaves marked pixels out (transparent).
    const QImage transparent = picture.createMaskFromColor(qRgb(255, 0, 255), Qt::MaskInColor);
    pixmap.setMask(QBitmap::fromImage(transparent));
    return pixmap;
}

QIcon toolbarIcon(int commandId) {
    const std::span<const int> commands = toolbarCommands();
    for (size_t i = 0; i < commands.size(); ++i) {
        if (commands[i] != commandId)
            continue;
        const QImage strip = loadPicture(ResourceKind::Toolbar, bmp::toolbar);
        if (strip.isNull())
            return {};
        return QIcon(keyedPixmap(strip.copy(static_cast<int>(i) * 16, 0, 16, 15)));
    }
    return {};
}

QIcon programIcon(int templateId) {
    const QImage picture = loadPicture(ResourceKind::Icon, templateId);
    return picture.isNull() ? QIcon() : QIcon(keyedPixmap(picture));
}

QAction* createCommandAction(int commandId, const QString& menuText, QObject* parent) {
    const qsizetype tab = menuText.indexOf(QLatin1Char('\t'));
    auto* action = new QAction(tab < 0 ? menuText : menuText.left(tab), parent);
    if (tab >= 0)
        action->setShortcut(QKeySequence(menuText.mid(tab + 1)));
    action->setObjectName(QStringLiteral("cmd%1").arg(commandId));
    action->setData(commandId);
    action->setStatusTip(resStatusHelp(commandId));
    return action;
}

void populateMenu(QMenu* menu, const std::vector<MenuEntry>& items,
                  const ActionForCommand& actionFor) {
    for (const MenuEntry& item : items) {
        if (item.isPopup()) {
            populateMenu(menu->addMenu(QString::fromStdString(item.text)), item.items, actionFor);
        } else if (item.isSeparator()) {
            menu->addSeparator();
        } else if (QAction* action = actionFor(item.commandId, QString::fromStdString(item.text))) {
            menu->addAction(action);
        }
    }
}

void populateMenuBar(QMenuBar* bar, const std::vector<MenuEntry>& menus,
                     const ActionForCommand& actionFor) {
    for (const MenuEntry& top : menus) {
        populateMenu(bar->addMenu(QString::fromStdString(top.text)), top.items, actionFor);
    }
}

}  // namespace korvex
