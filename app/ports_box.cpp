#include "app/ports_box.h"

#include <QSignalBlocker>
#include <string>

#include "app/engine_thread.h"
#include "links/serial_devices.h"

namespace corvane {

PortsBox::PortsBox(QWidget* parent) : QComboBox(parent) {}

void PortsBox::RefreshDevices() {
    const QString text = currentText();
    const QSignalBlocker quiet(this);
    for (int i = count() - 1; i >= 0; --i) {
        if (ParseDeviceEntry(ToEngineText(itemText(i)))) removeItem(i);
    }
    const QString settings = FromEngineText(std::string(kDeviceDefaultSettings));
    for (const std::string& device : SerialDevices(ToEngineText(deviceFolder_)))
        addItem(FromEngineText(device) + u':' + settings);
    const int at = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at >= 0) setCurrentIndex(at);
    setEditText(text);
}

void PortsBox::showPopup() {
    RefreshDevices();
    QComboBox::showPopup();
}

}  // namespace corvane
