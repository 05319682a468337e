// One contract for every box the actions can drive: the serial and the USB implementation
// against the simulated box, and a recording fake that works on a simulated card directly.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include "ActionRig.h"
#include "link/BoxSerial.h"
#include "link/BoxUsb.h"
#include "sim/SimFault.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

// A box with no wire: every call is recorded and carried out on a simulated card, as the
// box's firmware would. All features.
class RecordingBox final : public BoxInterface {
public:
    explicit RecordingBox(int cardType) : card(cardType) {}

    SimCard card;
    QStringList calls;
    bool cardIn = true, silent = false;
    BoxMode mode = BoxMode::Idle;

    bool supports(BoxFeature) const override { return true; }
    CardPoll pollCard() override {
        calls << "poll";
        return silent ? CardPoll{} : CardPoll{true, cardIn ? 0 : 6};
    }
    void display(Field f, const QByteArray& four, bool) override {
        calls << (f == Field::Label ? "label " : "address ") + QString::fromLatin1(four);
    }
    BoxReply setMode(BoxMode m) override {
        calls << QStringLiteral("mode %1").arg(int(m));
        mode = m;
        if (m == BoxMode::Idle || m == BoxMode::Avr) card.avrReset();
        if (m == BoxMode::Pic) counter_ = 0;
        return reply(m != BoxMode::Loader, 0);
    }
    void closeAction() override { setMode(BoxMode::Idle); }
    BoxReply avrInstruction(AvrInstruction in) override {
        calls << QStringLiteral("avr %1 %2 %3 %4")
                     .arg(in.b1, 2, 16, QChar('0'))
                     .arg(in.b2, 2, 16, QChar('0'))
                     .arg(in.b3, 2, 16, QChar('0'))
                     .arg(in.b4, 2, 16, QChar('0'));
        if (mode != BoxMode::Avr || silent) return reply(false, 0);
        const auto out = card.avrInstruction({in.b1, in.b2, in.b3, in.b4});
        BoxReply r = reply(out[0] == in.b2, out[1]);
        r.text = QStringLiteral("%1%2")
                     .arg(out[0], 2, 16, QChar('0'))
                     .arg(out[1], 2, 16, QChar('0'))
                     .toUpper();
        return r;
    }
    BoxReply avrWrite(AvrInstruction in) override { return avrInstruction(in); }
    BoxReply picLoad(bool data, uint16_t word) override {
        calls << QStringLiteral("pic load %1").arg(word);
        return reply(mode == BoxMode::Pic, data ? card.picProgramData(counter_, uint8_t(word))
                                                : card.picProgramWord(counter_, word));
    }
    BoxReply picRead(bool data) override {
        calls << "pic read";
        return reply(mode == BoxMode::Pic,
                     data ? card.picReadData(counter_) : card.picReadWord(counter_));
    }
    void picIncrement() override { counter_ = (counter_ & 0x2000) | ((counter_ + 1) & 0x1FFF); }
    void picToConfiguration() override { counter_ = 0x2000; }
    BoxReply picBulkErase() override {
        card.erase();
        return reply(mode == BoxMode::PicErase, 0);
    }
    BoxReply eepromRead(int a, bool) override {
        return reply(mode == BoxMode::DirectEeprom, cell(a));
    }
    BoxReply eepromWrite(int a, uint8_t b, bool) override {
        calls << QStringLiteral("eeprom write %1").arg(a);
        cell(a) = b;
        return reply(mode == BoxMode::DirectEeprom, 0);
    }
    BoxReply loaderRead(int a) override { return reply(mode == BoxMode::Loader, cell(a)); }
    BoxReply loaderWrite(int a, uint8_t b) override {
        return reply(mode == BoxMode::Loader, cell(a) = b);
    }
    bool loaderImage(const QString&, QByteArray&) const override { return false; }
    QString loaderRefusal(const QString&, const QByteArray&) const override { return {}; }
    void reportLinkError(const PortError&) override {}
    void disconnect() override {}

private:
    BoxReply reply(bool good, int value) {
        BoxReply r;
        r.answered = !silent;
        r.good = good && !silent;
        r.value = value;
        return r;
    }
    uint8_t& cell(int a) { return card.eeprom[size_t(a) & (card.eeprom.size() - 1)]; }
    int counter_ = 0;
};

// Each fixture: a box of one implementation around a card of a given type, the card itself,
// the number of exchanges that reached the box, a way to silence it, and the box's mode.
template <typename Box, SimBox::Model kModel>
struct LinkFixture {
    explicit LinkFixture(int cardType) : rig(cardType, kModel), impl(rig.com) { rig.connect(); }
    BoxInterface& box() { return impl; }
    SimCard& card() { return rig.box.card(); }
    void pullCard() { rig.box.removeCard(); }
    int exchanges() const { return int(rig.box.trace().size()); }
    void silence() { rig.box.addFault(*SimFault::parse("noanswer,times=0")); }
    BoxMode mode() const { return BoxMode(rig.box.mode()); }
    ActionRig rig;
    Box impl;
};
using SerialFixture = LinkFixture<BoxSerial, SimBox::Model::Serial>;
using UsbFixture = LinkFixture<BoxUsb, SimBox::Model::Usb>;

struct FakeFixture {
    explicit FakeFixture(int cardType) : impl(cardType) {}
    BoxInterface& box() { return impl; }
    SimCard& card() { return impl.card; }
    void pullCard() { impl.cardIn = false; }
    int exchanges() const { return int(impl.calls.size()); }
    void silence() { impl.silent = true; }
    BoxMode mode() const { return impl.mode; }
    RecordingBox impl;
};

template <typename F>
class BoxContract : public testing::Test {};
using Implementations = testing::Types<SerialFixture, UsbFixture, FakeFixture>;
TYPED_TEST_SUITE(BoxContract, Implementations);

}  // namespace

TYPED_TEST(BoxContract, AvrProgrammingEnableSignatureAndWritesReadBack) {
    TypeParam f(20);
    BoxInterface& box = f.box();
    ASSERT_TRUE(box.supports(BoxFeature::AvrInstructions));
    box.setMode(BoxMode::Idle);
    box.setMode(BoxMode::Avr);
    const BoxReply sync = box.avrInstruction({0xAC, 0x53, 0x00, 0x00});
    EXPECT_TRUE(sync.answered && sync.good);
    EXPECT_EQ(sync.text, "5300");
    int signature[3];
    for (uint8_t i = 0; i < 3; ++i) signature[i] = box.avrInstruction({0x30, 0x00, i, 0x00}).value;
    EXPECT_EQ(signature[0] << 16 | signature[1] << 8 | signature[2], 0x1E9301);

    EXPECT_TRUE(box.avrWrite({0x40, 0x01, 0x23, 0x5A}).good);
    EXPECT_TRUE(box.avrWrite({0x48, 0x01, 0x23, 0xC3}).good);
    EXPECT_TRUE(box.avrWrite({0xC0, 0x01, 0xFE, 0x96}).good);
    EXPECT_EQ(f.card().flash[0x123], 0xC35A);
    const BoxReply high = box.avrInstruction({0x28, 0x01, 0x23, 0x00});
    EXPECT_TRUE(high.good);
    EXPECT_EQ(high.value, 0xC3);
    EXPECT_EQ(box.avrInstruction({0x20, 0x01, 0x23, 0x00}).value, 0x5A);
    EXPECT_EQ(box.avrInstruction({0xA0, 0x01, 0xFE, 0x00}).value, 0x96);

    box.closeAction();
    EXPECT_EQ(f.mode(), BoxMode::Idle);
}

TYPED_TEST(BoxContract, CardPollAndSilenceAreTold) {
    TypeParam f(22);
    CardPoll poll = f.box().pollCard();
    EXPECT_TRUE(poll.answered);
    EXPECT_NE(poll.state & 6, 6);
    f.pullCard();
    poll = f.box().pollCard();
    EXPECT_TRUE(poll.answered);
    EXPECT_EQ(poll.state & 6, 6);
    f.silence();
    EXPECT_FALSE(f.box().pollCard().answered);
    f.box().setMode(BoxMode::Avr);
    const BoxReply r = f.box().avrInstruction({0xAC, 0x53, 0x00, 0x00});
    EXPECT_FALSE(r.answered || r.good);
}

TYPED_TEST(BoxContract, WhatTheLinkHasNoFormForSendsNothing) {
    TypeParam f(13);
    BoxInterface& box = f.box();
    const int before = f.exchanges();
    if (!box.supports(BoxFeature::PicCommands)) {
        EXPECT_FALSE(box.setMode(BoxMode::Pic).supported);
        EXPECT_FALSE(box.picLoad(false, 0x1234).supported);
        EXPECT_FALSE(box.picRead(true).supported);
        EXPECT_FALSE(box.picBulkErase().supported);
    }
    if (!box.supports(BoxFeature::DirectEeprom)) {
        EXPECT_FALSE(box.eepromWrite(5, 0xA5, true).supported);
        EXPECT_FALSE(box.eepromRead(5, true).supported);
    }
    if (!box.supports(BoxFeature::LoaderEeprom)) {
        EXPECT_FALSE(box.loaderRead(5).supported);
        EXPECT_FALSE(box.loaderWrite(5, 1).supported);
    }
    if (!box.supports(BoxFeature::AvrFlashPages)) {
        EXPECT_FALSE(box.avrInstruction({0x4C, 0x00, 0x40, 0x00}).supported);
    }
    if (!box.supports(BoxFeature::AvrFuseBytes)) {
        EXPECT_FALSE(box.avrInstruction({0x50, 0x00, 0x00, 0x00}).supported);
        EXPECT_FALSE(box.avrInstruction({0xAC, 0xA8, 0x00, 0xFF}).supported);
    }
    if (!box.supports(BoxFeature::Display)) box.display(BoxInterface::Field::Address, "CARD");
    EXPECT_EQ(f.exchanges(), before);
}

TYPED_TEST(BoxContract, PicCommandsAndDirectEepromWhereTheLinkHasThem) {
    TypeParam f(13);
    BoxInterface& box = f.box();
    if (box.supports(BoxFeature::PicCommands)) {
        box.setMode(BoxMode::Pic);
        box.picIncrement();
        const BoxReply load = box.picLoad(false, 0x2A5C);
        EXPECT_TRUE(load.good);
        EXPECT_EQ(load.value, 0x2A5C);
        EXPECT_EQ(f.card().flash[1], 0x2A5C);
        EXPECT_TRUE(box.picLoad(true, 0x00C7).good);  // data byte 1
        EXPECT_EQ(f.card().data[1], 0xC7);
        box.setMode(BoxMode::Pic);
        box.picIncrement();
        EXPECT_EQ(box.picRead(false).value, 0x2A5C);
        box.picToConfiguration();
        EXPECT_EQ(box.picRead(false).value, 0x3FFF);  // an unprogrammed ID location
    }
    if (box.supports(BoxFeature::DirectEeprom)) {
        box.setMode(BoxMode::DirectEeprom);
        EXPECT_TRUE(box.eepromWrite(0x1ABC, 0xA5, true).good);
        EXPECT_EQ(f.card().eeprom[0x1ABC], 0xA5);
        const BoxReply r = box.eepromRead(0x1ABC, true);
        EXPECT_TRUE(r.good);
        EXPECT_EQ(r.value, 0xA5);
    }
}

// The USB reply has no length to test: an exchange is good only when it echoes B2.
TEST(UsbBox, AnExchangeIsGoodOnlyWithTheEcho) {
    UsbFixture f(20);
    f.box().setMode(BoxMode::Avr);
    f.box().avrInstruction({0xAC, 0x53, 0x00, 0x00});
    f.card().avrReset();  // out of sync: the controller no longer drives its output
    const BoxReply read = f.box().avrInstruction({0x28, 0x01, 0x23, 0x00});
    EXPECT_TRUE(read.answered);
    EXPECT_FALSE(read.good);
    EXPECT_EQ(read.text, "FFFF");
    EXPECT_FALSE(f.box().avrWrite({0x40, 0x01, 0x23, 0x5A}).good);
}

// The actions reach the box through its interface only.
TEST(Layering, ActionsIncludeNoTransportHeaderAndNoCardCode) {
    const QString dir = QStringLiteral(KELVANO_TEST_DATA "/../../src/actions");
    const QRegularExpression include(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])",
                                     QRegularExpression::MultilineOption);
    const QRegularExpression transport(
        R"(^(link/|base/SerialPort|base/UsbBackend|libusb|QSerialPort))");
    const QRegularExpression cardCode(R"((DeviceId|\bid)\s*[=!<>]=?\s*\d|case\s+[123]\d\s*:)");
    int files = 0;
    for (QDirIterator it(dir, {"*.h", "*.cpp"}); it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        ++files;
        for (auto m = include.globalMatch(text); m.hasNext();) {
            const QString header = m.next().captured(1);
            if (header == QLatin1String("link/BoxInterface.h")) continue;
            EXPECT_FALSE(transport.match(header).hasMatch())
                << it.fileName().toStdString() << ": " << header.toStdString();
        }
        EXPECT_FALSE(cardCode.match(text).hasMatch())
            << it.fileName().toStdString() << ": "
            << cardCode.match(text).captured(0).toStdString();
    }
    EXPECT_GE(files, 8);
}
