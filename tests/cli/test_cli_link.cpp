// The terminal's link is set up by the session, as the window's is: the store beside the
// program reaches the link and the simulated box, the settings' USB ids reach the USB driver.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "base/Clock.h"
#include "base/MainView.h"
#include "cli/CliLink.h"
#include "cli/TerminalHost.h"

namespace kelvano {
namespace {

TEST(CliLink, TheFilesBesideTheProgramReachTheSimulatedBoxAndTheUsbDriver) {
    QTemporaryDir program;
    auto write = [&](const char* name, const QByteArray& data) {
        QFile f(program.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
    };
    write("kelvano.store", ImageStore::pack({{"PICLOAD", "\x11\x22\x33"}, {"QXUSB", "u"}}));
    write("kelvano.ini", "[Config]\r\nUsbIds=1209:4B56\r\n");
    TerminalHost host{true};
    VirtualClock clock;
    NullMainView view;
    Options options;
    CliArgs args;
    args.card = 13;
    for (const char* port : {"SIM", "USB", "/dev/ttyS0"}) {
        args.port = port;
        CliLink link(host, clock, view, options, args, program.path());
        EXPECT_EQ(options.portName(), port);
        EXPECT_EQ(link.simBox() != nullptr, args.port == "SIM") << port;
        if (link.simBox()) {
            EXPECT_EQ(link.simBox()->card().type(), 13);
            EXPECT_EQ(link.simBox()->loaderImages().value("PICLOAD"), "\x11\x22\x33");
        }
        QByteArray image;
        EXPECT_TRUE(link.com().store().LoadImage("PICLOAD", image) && image == "\x11\x22\x33");
        const auto* usb = dynamic_cast<const LibusbBackend*>(link.usbBackend());
        EXPECT_EQ(usb != nullptr, args.port == "USB") << port;
        EXPECT_TRUE(!usb || usb->isKnown(0x1209, 0x4B56));
    }
}

}  // namespace
}  // namespace kelvano
