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

struct Rig {
    QTemporaryDir program;
    TerminalHost host{true};
    VirtualClock clock;
    NullMainView view;
    Options options;
    CliArgs args(const QString& port, int card) {
        CliArgs a;
        a.port = port;
        a.card = card;
        return a;
    }
    void write(const char* name, const QByteArray& data) {
        QFile f(program.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
    }
};

TEST(CliLink, SimulatedBoxAndLinkUseTheStoreBesideTheProgram) {
    Rig rig;
    rig.write("kelvano.store", ImageStore::pack({{"PICLOAD", "\x11\x22\x33"}, {"QXUSB", "u"}}));
    CliLink sim(rig.host, rig.clock, rig.view, rig.options, rig.args("SIM", 13),
                rig.program.path());
    ASSERT_NE(sim.simBox(), nullptr);
    EXPECT_EQ(sim.simBox()->card().type(), 13);
    EXPECT_EQ(sim.simBox()->loaderImages().value("PICLOAD"), QByteArray("\x11\x22\x33"));
    QByteArray image;
    EXPECT_TRUE(sim.com().store().LoadImage("PICLOAD", image));
    EXPECT_EQ(rig.options.portName(), "SIM");
    EXPECT_EQ(sim.usbBackend(), nullptr);

    CliLink serial(rig.host, rig.clock, rig.view, rig.options, rig.args("/dev/ttyS0", 13),
                   rig.program.path());
    EXPECT_EQ(serial.simBox(), nullptr);
}

TEST(CliLink, UsbDriverLooksForTheIdsOfTheSettings) {
    Rig rig;
    rig.write("kelvano.ini", "[Config]\r\nUsbIds=1209:4B56\r\n");
    CliLink usb(rig.host, rig.clock, rig.view, rig.options, rig.args("USB", 10),
                rig.program.path());
    const auto* libusb = dynamic_cast<const LibusbBackend*>(usb.usbBackend());
    ASSERT_NE(libusb, nullptr);
    EXPECT_TRUE(libusb->isKnown(0x1209, 0x4B56));
    EXPECT_EQ(usb.simBox(), nullptr);
}

}  // namespace
}  // namespace kelvano
