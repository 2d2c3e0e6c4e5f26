#include "tools/host/HostWindow.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

#include "tools/host/AccessDialogs.h"
#include "tools/host/StartCheck.h"

namespace picvoxhost {

namespace {

// The properties of the dispatch interface in dispatch-id order (Start and Stop are methods).
constexpr const char* kPropertyNames[] = {
    "WaveFileURL",     "ImageFileURL", "CacheTime",         "AbsoluteTime",
    "Location",        "mask_height",  "mask_color",        "wave_request_interval",
    "InitWaveFileURL", "hdd_save",     "jpeg2000_interval", "save_time",
    "hdd_full_msg",    "complete_msg", "error_msg",         "SaveComplete",
    "TimestampOrder",  "delimiter",    "inputname",         "destination",
    "destinationSW",   "model",        "counterSW",         "counter",
    "DL_InfFileURL",
};

// Values longer than this many average characters (long messages, deep folders) may be cut in
// the editor; their whole text is the cell's tool tip.
constexpr int kValueColumnChars = 48;

QString valueText(const PropertyValue& value) {
    if (std::holds_alternative<std::int32_t>(value))
        return QString::number(std::get<std::int32_t>(value));
    return QString::fromStdString(std::get<std::string>(value));
}

}  // namespace

ControlArea::ControlArea(picvox::IHostedControl* control, QSize size, QWidget* parent)
    : QWidget(parent), control_(control) {
    setFixedSize(size);
    // The control paints every pixel of its area.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ControlArea::paintSurface() {
    if (surface_.size() != size())
        surface_ = QImage(size(), QImage::Format_RGB32);
    // Format_RGB32 is 0xFFRRGGBB per pixel, the control's own surface format.
    control_->Draw(reinterpret_cast<std::uint32_t*>(surface_.bits()), surface_.width(),
                   surface_.height(), static_cast<std::int32_t>(surface_.bytesPerLine()));
}

void ControlArea::paintEvent(QPaintEvent*) {
    paintSurface();
    QPainter painter(this);
    painter.drawImage(0, 0, surface_);
}

HostWindow::HostWindow(ControlHandle& control, QSize areaSize, QWidget* parent)
    : QWidget(parent), control_(control) {
    setWindowTitle(QStringLiteral("picvox-host"));
    area_ = new ControlArea(control.hosted(), areaSize, this);
    site_ = HostSite::create(*this, reinterpret_cast<std::uintptr_t>(area_));
    session_ = new HostSession(control, *site_, this);

    auto* page = new QGroupBox(tr("Page"), this);
    elementsForm_ = new QFormLayout(page);

    properties_ = new QTableWidget(static_cast<int>(std::size(kPropertyNames)), 2, this);
    properties_->setHorizontalHeaderLabels({tr("Property"), tr("Value")});
    properties_->verticalHeader()->hide();
    properties_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    properties_->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < properties_->rowCount(); ++row) {
        auto* name = new QTableWidgetItem(QString::fromLatin1(kPropertyNames[row]));
        name->setFlags(Qt::ItemIsEnabled);
        properties_->setItem(row, 0, name);
        properties_->setItem(row, 1, new QTableWidgetItem);
    }
    connect(properties_, &QTableWidget::itemChanged, this, &HostWindow::propertyEdited);

    startButton_ = new QPushButton(tr("Start"), this);
    stopButton_ = new QPushButton(tr("Stop"), this);
    connect(startButton_, &QPushButton::clicked, this, &HostWindow::startPressed);
    connect(stopButton_, &QPushButton::clicked, this, &HostWindow::stopPressed);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("hostStatus"));
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);
    controlStatus_ = new QLabel(this);
    controlStatus_->setObjectName(QStringLiteral("controlStatus"));
    controlStatus_->setWordWrap(true);
    // The control's texts are shown as they are, never read as markup.
    controlStatus_->setTextFormat(Qt::PlainText);
    controlStatus_->setFixedWidth(areaSize.width());

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton_);
    buttons->addWidget(stopButton_);
    buttons->addStretch();
    auto* side = new QVBoxLayout;
    side->addWidget(page);
    side->addWidget(properties_, 1);
    side->addLayout(buttons);
    side->addWidget(status_);
    auto* left = new QVBoxLayout;
    left->addWidget(area_);
    left->addWidget(controlStatus_);
    left->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(side, 1);

    refreshProperties();
    updateButtons();
}

HostWindow::~HostWindow() {
    delete session_;  // Stop, and the control lets go of the site
    session_ = nullptr;
    site_->Release();
}

void HostWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshProperties();
    // Shown without the properties a run needs (started from the desktop's menu): say which.
    if (!session_->running())
        status_->setText(
            QString::fromStdString(startHint(startProblems(startSettingsOf(control_)))));
}

QLineEdit* HostWindow::elementField(const std::string& name) const {
    const auto it = elementFields_.find(name);
    return it == elementFields_.end() ? nullptr : it->second;
}

void HostWindow::refreshProperties() {
    refreshing_ = true;
    for (int row = 0; row < properties_->rowCount(); ++row) {
        const auto value = control_.property(kPropertyNames[row]);
        QTableWidgetItem* item = properties_->item(row, 1);
        item->setText(value ? valueText(*value) : QString());
        item->setToolTip(item->text());
    }
    refreshing_ = false;
    fitPropertyColumns();
}

void HostWindow::fitPropertyColumns() {
    const QFontMetrics metrics(properties_->font());
    // A cell's text has the focus frame's margin on each side, and a little air.
    const int margin =
        2 * (properties_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, properties_) +
             1) +
        metrics.averageCharWidth();
    int names = metrics.horizontalAdvance(properties_->horizontalHeaderItem(0)->text());
    int values = metrics.horizontalAdvance(properties_->horizontalHeaderItem(1)->text());
    for (int row = 0; row < properties_->rowCount(); ++row) {
        names = std::max(names, metrics.horizontalAdvance(properties_->item(row, 0)->text()));
        values = std::max(values, metrics.horizontalAdvance(properties_->item(row, 1)->text()));
    }
    names += margin;
    values = std::min(values, metrics.averageCharWidth() * kValueColumnChars) + margin;
    properties_->setColumnWidth(0, names);
    // Grows with its values, up to the cap; the window's layout makes room.
    const int width = names + values + 2 * properties_->frameWidth() +
                      properties_->verticalScrollBar()->sizeHint().width();
    properties_->setMinimumWidth(std::max(properties_->minimumWidth(), width));
}

void HostWindow::propertyEdited(QTableWidgetItem* item) {
    if (refreshing_ || item->column() != 1)
        return;
    const PropertySetting setting{kPropertyNames[item->row()], item->text().toStdString()};
    std::string error = settingError(control_.setProperty(setting.name, setting.value), setting);
    // Shows what the control kept: a refused value reverts.
    refreshProperties();
    if (error.empty() && !session_->running())
        error = startHint(startProblems(startSettingsOf(control_)));
    status_->setText(QString::fromStdString(error));
}

void HostWindow::startPressed() {
    startRun(false);
}

bool HostWindow::startRun(bool watchEnd) {
    if (session_->running())
        session_->stop();
    // The control would only say "The error occurred during preservation.": the window names
    // what is missing instead, and starts nothing.
    const std::string refusal = startRefusal(startProblems(startSettingsOf(control_)));
    status_->setText(QString::fromStdString(refusal));
    if (!refusal.empty()) {
        updateButtons();
        return false;
    }
    controlStatus_->clear();
    for (const char* name : {"counter", "inputname"}) {
        const std::string element = control_.textProperty(name);
        if (!element.empty() && !elementFields_.count(element)) {
            auto* field = new QLineEdit(this);
            field->setReadOnly(true);
            field->setObjectName(QString::fromStdString(element));
            elementsForm_->addRow(QString::fromStdString(element), field);
            elementFields_[element] = field;
        }
    }
    // Started before the window was ever painted (from the command line), the control would have
    // no window yet, and without one it arms no page counter: the first paint comes first.
    area_->paintSurface();
    area_->update();
    session_->start(watchEnd);
    refreshProperties();
    updateButtons();
    return true;
}

void HostWindow::stopPressed() {
    session_->stop();
    refreshProperties();
    updateButtons();
}

void HostWindow::updateButtons() {
    stopButton_->setEnabled(session_->running());
}

void HostWindow::controlInvalidated() {
    area_->update();
}

void HostWindow::showElement(const std::string& name, const std::string& value) {
    if (QLineEdit* field = elementField(name))
        field->setText(QString::fromStdString(value));
}

void HostWindow::showMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon) {
    const QMessageBox::Icon shown = icon == MessageIcon::Warning       ? QMessageBox::Warning
                                    : icon == MessageIcon::Information ? QMessageBox::Information
                                                                       : QMessageBox::NoIcon;
    QMessageBox box(shown, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void HostWindow::showStatus(const std::string& text) {
    controlStatus_->setText(QString::fromStdString(text));
}

std::optional<HostLogin> HostWindow::askLogin(const std::string& recorder, const std::string& realm,
                                              int attempt) {
    const std::string item = keyringItem(recorder, realm);
    std::string user;
    if (attempt == 0) {
        if (answers_.login)
            return answers_.login;
        if (keyring_) {
            if (std::optional<HostLogin> kept = keyring_->read(item))
                return kept;
        }
    } else {
        // Whatever the first answer gave was refused: a remembered one is remembered no more.
        if (keyring_)
            keyring_->forget(item);
        if (answers_.login)
            user = answers_.login->user;
    }
    LoginDialog dialog(recorder, realm, attempt, user, this);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    HostLogin login = dialog.login();
    if (keyring_ && dialog.remember())
        keyring_->write(item, login);
    return login;
}

HostTrust HostWindow::askTrust(const CertificateQuestion& question) {
    if (!answers_.trustedSha256.empty() && question.sha256 == answers_.trustedSha256)
        return HostTrust::ThisRun;
    CertificateDialog dialog(question, this);
    dialog.exec();
    return dialog.answer();
}

std::optional<std::string> HostWindow::chooseFolder(const std::string& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Save folder"), QString::fromStdString(startFolder), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

}  // namespace picvoxhost
