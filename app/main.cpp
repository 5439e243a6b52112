#include <QApplication>
#include <memory>

#include "app/start_up.h"
#include "app/w_host.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::unique_ptr<corvane::WHost> window(corvane::Main());
    return QApplication::exec();
}
