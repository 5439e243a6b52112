// The port list c_ports: the numbered entries of the start state, and the serial devices
// present, refreshed each time the list is opened.
#pragma once

#include <QComboBox>
#include <QString>

namespace corvane {

class PortsBox : public QComboBox {
    Q_OBJECT

  public:
    explicit PortsBox(QWidget* parent = nullptr);

    // Where devices are looked for; tests use a folder of links to ptys.
    void setDeviceFolder(const QString& folder) { deviceFolder_ = folder; }
    QString deviceFolder() const { return deviceFolder_; }

    // Replaces the device entries with those present now. The other entries keep their
    // order before them, and the text in the box is left as it was.
    void RefreshDevices();

    void showPopup() override;

  private:
    QString deviceFolder_ = QStringLiteral("/dev");
};

}  // namespace corvane
