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
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdint>

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

void ControlArea::paintEvent(QPaintEvent*) {
    if (surface_.size() != size())
        surface_ = QImage(size(), QImage::Format_RGB32);
    // Format_RGB32 is 0xFFRRGGBB per pixel, the control's own surface format.
    control_->Draw(reinterpret_cast<std::uint32_t*>(surface_.bits()), surface_.width(),
                   surface_.height(), static_cast<std::int32_t>(surface_.bytesPerLine()));
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
    status_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton_);
    buttons->addWidget(stopButton_);
    buttons->addStretch();
    auto* side = new QVBoxLayout;
    side->addWidget(page);
    side->addWidget(properties_, 1);
    side->addLayout(buttons);
    side->addWidget(status_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(area_, 0, Qt::AlignTop);
    layout->addLayout(side, 1);

    refreshProperties();
    updateButtons();
}

HostWindow::~HostWindow() {
    delete session_;  // Stop, and the control lets go of the site
    session_ = nullptr;
    site_->Release();
}

QLineEdit* HostWindow::elementField(const std::string& name) const {
    const auto it = elementFields_.find(name);
    return it == elementFields_.end() ? nullptr : it->second;
}

void HostWindow::refreshProperties() {
    refreshing_ = true;
    for (int row = 0; row < properties_->rowCount(); ++row) {
        const auto value = control_.property(kPropertyNames[row]);
        properties_->item(row, 1)->setText(value ? valueText(*value) : QString());
    }
    refreshing_ = false;
}

void HostWindow::propertyEdited(QTableWidgetItem* item) {
    if (refreshing_ || item->column() != 1)
        return;
    const PropertySetting setting{kPropertyNames[item->row()], item->text().toStdString()};
    const std::string error =
        settingError(control_.setProperty(setting.name, setting.value), setting);
    status_->setText(QString::fromStdString(error));
    // Shows what the control kept: a refused value reverts.
    refreshProperties();
}

void HostWindow::startPressed() {
    startRun(false);
}

void HostWindow::startRun(bool watchEnd) {
    if (session_->running())
        session_->stop();
    status_->clear();
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
    session_->start(watchEnd);
    refreshProperties();
    updateButtons();
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

void HostWindow::showMessage(const std::string& caption, const std::string& text, bool warning) {
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    box.exec();
}

std::optional<std::string> HostWindow::chooseFolder(const std::string& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Save folder"), QString::fromStdString(startFolder), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

}  // namespace picvoxhost
