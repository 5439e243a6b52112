#include "app/ports_box.h"

#include <QSignalBlocker>

#include "links/serial_devices.h"

namespace corvane {

PortsBox::PortsBox(QWidget* parent) : QComboBox(parent) {}

void PortsBox::RefreshDevices() {
    const QString text = currentText();
    const QSignalBlocker quiet(this);
    for (int i = count() - 1; i >= 0; --i) {
        if (ParseDeviceEntry(itemText(i))) removeItem(i);
    }
    for (const QString& device : SerialDevices(deviceFolder_))
        addItem(device + u':' + kDeviceDefaultSettings);
    const int at = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at >= 0) setCurrentIndex(at);
    setEditText(text);
}

void PortsBox::showPopup() {
    RefreshDevices();
    QComboBox::showPopup();
}

}  // namespace corvane
