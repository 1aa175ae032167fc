#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include "client_channel/AddressSearch.h"
#include "client_channel/Datagram.h"
#include "client_channel/NMUDP.h"
#include "desk/SendCommand.h"
#include "support/Fixtures.h"

namespace {

QByteArray padded(const QByteArray& head) {
    return head + QByteArray(CommandDatagramSize - head.size(), '\0');
}

const QString kCannotSend = QStringLiteral("message|不能发送命令给该机，请检查该机是否联网!");
const QString kInvalidHost = QStringLiteral("message|发送命令不能到达对方，请检查网络！");

QString endpointError(const std::function<void()>& f) {
    try {
        f();
    } catch (const UDPSockError& e) {
        return QStringLiteral("UDPSockError ") + e.text();
    } catch (const EndpointError& e) {
        return QStringLiteral("Exception ") + e.text();
    }
    return QStringLiteral("<none>");
}

}  // namespace

class ClientChannelTest : public QObject {
    Q_OBJECT

  private slots:
    void datagramLayout_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("sj") << Command::Start << padded("\x73\x6A");
        QTest::newRow("xiaji") << Command::End << padded("xiaji");
        QTest::newRow("message 你好") << Command::Message(QStringLiteral("你好"))
                                      << padded(QByteArray::fromHex("20C4E3BAC3"));
        QTest::newRow("message of one space")
            << Command::Message(QStringLiteral(" ")) << padded("  ");
        QTest::newRow("29 letters: the terminator is the last byte")
            << QString(29, QLatin1Char('a')) << QByteArray(29, 'a') + QByteArray(1, '\0');
        QTest::newRow("14 Chinese characters and a letter")
            << QStringLiteral("一二三四五六七八九十一二三四a")
            << QByteArray::fromHex("D2BBB6FEC8FDCBC4CEE5C1F9C6DFB0CBBEC5CAAED2BBB6FEC8FDCBC461") +
                   QByteArray(1, '\0');
    }
    void datagramLayout() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const std::optional<QByteArray> datagram = CommandDatagram(text);
        QVERIFY(datagram);
        QCOMPARE(datagram->size(), CommandDatagramSize);
        QCOMPARE(*datagram, bytes);
    }

    void textThatCannotTravelWholeIsRefused() {
        QVERIFY(!CommandDatagram(QString(30, QLatin1Char('a'))));
        QVERIFY(!CommandDatagram(QStringLiteral("一二三四五六七八九十一二三四五")));  // 30 bytes
        QVERIFY(!CommandDatagram(QStringLiteral("hi 😀")));
        QVERIFY(!CommandDatagram(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));

        Env env;
        env.desk->SelectedMachine = QStringLiteral("127.0.0.1");
        QVERIFY(!SendCommand(*env.desk, QString(30, QLatin1Char('x'))));
        QVERIFY(!SendCommand(*env.desk, QStringLiteral("😀")));
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes[0], boxes[1]);
        QVERIFY(boxes[0].contains(QStringLiteral("29")));
        QCOMPARE(env.client.take().size(), 0);
    }

    void textThatIsNotUnicodeIsRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("lone high surrogate after text")
            << QStringLiteral("~jap") + QChar(char16_t(0xD800));
        QTest::newRow("lone surrogate alone") << QString(QChar(char16_t(0xDC00)));
        QTest::newRow("swapped pair") << QString(QChar(char16_t(0xDE00))) + QChar(char16_t(0xD83D));
    }
    void textThatIsNotUnicodeIsRefused() {
        QFETCH(QString, text);
        QVERIFY(!CommandDatagram(text));
        Env env;
        env.desk->SelectedMachine = QStringLiteral("127.0.0.1");
        QVERIFY(!SendCommand(*env.desk, text));
        QCOMPARE(env.prompts.take().size(), 1);
        QCOMPARE(env.client.take(0, 200).size(), 0);
    }

    void commandReachesTheMachineFromTheLocalPort() {
        Env env;
        env.desk->SelectedMachine = QStringLiteral("127.0.0.1");
        QVERIFY(SendCommand(*env.desk, QStringLiteral("sj")));
        const auto got = env.client.take(1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].bytes, padded("sj"));
        QCOMPARE(int(got[0].fromPort), env.desk->NMUDP1->LocalPort());
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|127.0.0.1")});
        QVERIFY(env.resolver.asked.isEmpty());  // dotted text is never looked up
    }

    void namesAreLookedUp() {
        Env env;
        env.resolver.table.insert(QStringLiteral("pc01"), 0x7F000001);
        env.desk->SelectedMachine = QStringLiteral("pc01");
        QVERIFY(SendCommand(*env.desk, QStringLiteral("cscre")));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("cscre")});
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|pc01")});

        // The real resolver, on a name every machine has.
        QtHostResolver real;
        QCOMPARE(real.resolveIPv4(QStringLiteral("localhost")), std::optional<quint32>(0x7F000001));
    }

    void unknownNameShowsBothBoxesAndSendsNothing() {
        Env env;
        env.addMachine(QStringLiteral("nowhere"));
        env.module->ADOQuery1->Close();
        env.desk->SelectedMachine = QStringLiteral("nowhere");
        QVERIFY(!SendCommand(*env.desk, QStringLiteral("cscre")));
        QCOMPARE(env.prompts.take(), (QStringList{kInvalidHost, kCannotSend}));
        QCOMPARE(env.resolver.asked, QStringList{QStringLiteral("nowhere")});
        QCOMPARE(env.client.take().size(), 0);
        QVERIFY(env.module->ADOQuery1->Active());  // the grid was refreshed

        for (const QString& host : {QString(), QString(131, QLatin1Char('a'))}) {
            env.resolver.asked.clear();
            env.desk->SelectedMachine = host;
            QVERIFY(!SendCommand(*env.desk, QStringLiteral("sj")));
            QCOMPARE(env.prompts.take(), (QStringList{kInvalidHost, kCannotSend}));
            QVERIFY(env.resolver.asked.isEmpty());
        }
        QCOMPARE(env.client.take().size(), 0);
    }

    void invalidHostHandlerGetsOneRetry() {
        Env env;
        TNMUDP* udp = env.desk->NMUDP1;
        int calls = 0;
        udp->OnInvalidHost = [&](bool& handled) {
            ++calls;
            handled = true;
        };
        udp->RemoteHost = QStringLiteral("nowhere");
        QCOMPARE(endpointError([&] { udp->SendDatagram(padded("sj"), 30); }),
                 QStringLiteral("UDPSockError Host Lookup Canceled"));
        QCOMPARE(calls, 1);
        QCOMPARE(env.resolver.asked.size(), 2);

        // Found on the retry: the datagram goes out.
        env.resolver.asked.clear();
        env.resolver.whileWaiting = [&](const QString&) {
            if (env.resolver.asked.size() == 2)
                env.resolver.table.insert(QStringLiteral("nowhere"), 0x7F000001);
        };
        udp->RemotePort = env.client.port();
        udp->SendDatagram(padded("sj"), 30);
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
    }

    void nullAddressFailsWithoutALookup() {
        Env env;
        env.desk->SelectedMachine = QStringLiteral("0.0.0.0");
        QCOMPARE(endpointError([&] {
                     env.desk->NMUDP1->RemoteHost = QStringLiteral("0.0.0.0");
                     env.desk->NMUDP1->SendDatagram(padded("sj"), 30);
                 }),
                 QStringLiteral("UDPSockError Null Remote Address"));
        QVERIFY(!SendCommand(*env.desk, QStringLiteral("sj")));
        QCOMPARE(env.prompts.take(), QStringList{kCannotSend});
        QVERIFY(env.resolver.asked.isEmpty());
    }

    void realSocketErrorsAreReported() {
        // The socket layer's own error: a port that another program holds.
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
        Env env;
        TNMUDP* udp = env.desk->NMUDP1;
        udp->SetLocalPort(holder.localPort());
        QCOMPARE(endpointError([&] { udp->CheckSocketError(TNMUDP::WouldBlock()); }),
                 QStringLiteral("UDPSockError Unknown Error No. %1")
                     .arg(int(QAbstractSocket::AddressInUseError) + 1));
    }

    void dottedAddressForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("address");  // -1: not an address
        QTest::newRow("dotted quad") << QStringLiteral("192.168.0.12") << qint64(0xC0A8000C);
        QTest::newRow("three parts") << QStringLiteral("10.1.300") << qint64(0x0A01012C);
        QTest::newRow("two parts") << QStringLiteral("127.1") << qint64(0x7F000001);
        QTest::newRow("one number") << QStringLiteral("3232235521") << qint64(0xC0A80001);
        QTest::newRow("hex and octal") << QStringLiteral("0x7f.0.0.01") << qint64(0x7F000001);
        QTest::newRow("broadcast") << QStringLiteral("255.255.255.255") << qint64(0xFFFFFFFF);
        QTest::newRow("a part too big") << QStringLiteral("256.0.0.1") << qint64(-1);
        QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << qint64(-1);
        QTest::newRow("empty part") << QStringLiteral("1..2.3") << qint64(-1);
        QTest::newRow("trailing dot") << QStringLiteral("1.2.3.4.") << qint64(-1);
        QTest::newRow("a name") << QStringLiteral("pc-12") << qint64(-1);
        QTest::newRow("bad octal") << QStringLiteral("09.1.1.1") << qint64(-1);
        QTest::newRow("full-width digits") << QStringLiteral("１.２.３.４") << qint64(-1);
    }
    void dottedAddressForms() {
        QFETCH(QString, text);
        QFETCH(qint64, address);
        const std::optional<quint32> parsed = ParseDottedIPv4(text);
        QCOMPARE(parsed ? qint64(*parsed) : qint64(-1), address);
    }

    void zeroLengthBuffer() {
        Env env;
        TNMUDP* udp = env.desk->NMUDP1;
        udp->RemoteHost = QStringLiteral("127.0.0.1");
        const QByteArray original = padded("sj");
        QCOMPARE(endpointError([&] { udp->SendDatagram(original, 0); }),
                 QStringLiteral("Exception Invalid buffer"));

        udp->OnBufferInvalid = [](bool&, QByteArray&, int&) {};  // does not handle it
        QCOMPARE(endpointError([&] { udp->SendDatagram(original, 0); }),
                 QStringLiteral("Exception Invalid buffer"));

        udp->OnBufferInvalid = [](bool& handled, QByteArray&, int&) { handled = true; };
        QCOMPARE(endpointError([&] { udp->SendDatagram(original, 0); }),  // still 0 bytes
                 QStringLiteral("Exception Invalid buffer"));

        udp->OnBufferInvalid = [](bool& handled, QByteArray&, int& length) {
            handled = true;
            length = 100;  // more than the buffer holds
        };
        QCOMPARE(endpointError([&] { udp->SendDatagram(original, 0); }),
                 QStringLiteral("Exception Invalid buffer"));
        QCOMPARE(env.client.take().size(), 0);

        udp->OnBufferInvalid = [](bool& handled, QByteArray& buff, int& length) {
            handled = true;
            buff[0] = 'Z';
            length = 5;
        };
        udp->SendDatagram(original, 0);
        const auto got = env.client.take(1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].bytes, QByteArray("Zj\0\0\0", 5));
        QCOMPARE(original, padded("sj"));  // the caller's array is untouched
    }

    void localPortTakenStillSends() {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
        Env env;
        env.desk->NMUDP1->SetLocalPort(holder.localPort());
        env.desk->SelectedMachine = QStringLiteral("127.0.0.1");
        QVERIFY(SendCommand(*env.desk, QStringLiteral("oscre")));
        const auto got = env.client.take(1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].bytes, padded("oscre"));
        QVERIFY(got[0].fromPort != holder.localPort());
    }

    void floodIntoTheLocalPortIsReadAndDropped() {
        Env env;
        int received = 0;
        env.desk->NMUDP1->OnDataReceived = [&](TNMUDP*, int n, const QString& ip, int) {
            if (n >= 0 && ip == QStringLiteral("127.0.0.1")) ++received;
        };
        QUdpSocket flood;
        auto* random = QRandomGenerator::global();
        int sent = 0;
        for (int batch = 0; batch < 20; ++batch) {
            for (int i = 0; i < 10; ++i) {
                const int size = i == 0 ? 65507 : (i == 1 ? 0 : int(random->bounded(3000)));
                QByteArray junk(size, '\0');
                for (char& c : junk) c = char(random->bounded(256));
                if (flood.writeDatagram(junk, QHostAddress::LocalHost,
                                        quint16(env.desk->NMUDP1->LocalPort())) >= 0)
                    ++sent;
            }
            QTest::qWait(5);
        }
        // Loopback may drop some under load; what arrives is read, up to the last one below.
        QTRY_VERIFY_WITH_TIMEOUT(received >= sent / 2, 5000);
        flood.writeDatagram(QByteArray("12345"), QHostAddress::LocalHost,
                            quint16(env.desk->NMUDP1->LocalPort()));
        QTRY_COMPARE(env.desk->NMUDP1->ReceivedCount(), 5);
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        env.desk->SelectGridMachine();  // 黑屏 after the flood
        QVERIFY(SendCommand(*env.desk, Command::BlackScreen));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("cscre")});
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|127.0.0.1")});
    }

    void eachNestedSendUsesItsOwnHost() {
        Env env;
        env.resolver.table.insert(QStringLiteral("outer"), 0x7F000001);
        env.resolver.table.insert(QStringLiteral("inner"), 0);  // resolves to 0.0.0.0
        bool nested = false;
        env.resolver.whileWaiting = [&](const QString& name) {
            if (name != QStringLiteral("outer") || nested) return;
            nested = true;  // the operator's next command runs while the lookup waits
            env.desk->SelectedMachine = QStringLiteral("inner");
            QVERIFY(!SendCommand(*env.desk, QStringLiteral("oscre")));
        };
        env.desk->SelectedMachine = QStringLiteral("outer");
        QVERIFY(SendCommand(*env.desk, QStringLiteral("cscre")));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("cscre")});
        QCOMPARE(env.prompts.take(), (QStringList{kCannotSend, QStringLiteral("message|outer")}));
    }

    void statusAndErrorNumbers() {
        Env env;
        TNMUDP* udp = env.desk->NMUDP1;
        QStringList statuses;
        udp->OnStatus = [&](TNMUDP*, const QString& s) { statuses << s; };
        udp->RemoteHost = QStringLiteral("127.0.0.1");
        udp->SendDatagram(padded("sj"), 30);
        QCOMPARE(statuses, QStringList());  // ReportLevel 1 reports nothing
        udp->ReportLevel = 16;
        udp->SendDatagram(padded("sj"), 30);
        QCOMPARE(statuses, QStringList{QStringLiteral("Sending Data")});
        QCOMPARE(udp->StatusText(), QStringLiteral("Sending Data"));
        statuses.clear();

        int layerError = TNMUDP::WouldBlock();
        udp->SocketLayerError = [&] { return layerError; };
        QCOMPARE(udp->CheckSocketError(TNMUDP::WouldBlock()), QString());
        layerError = TNMUDP::WouldBlock() | 0x40;  // holds all the mask's bits: ignored too
        QCOMPARE(udp->CheckSocketError(TNMUDP::WouldBlock()), QString());
        layerError = 9;
        QCOMPARE(endpointError([&] { udp->CheckSocketError(TNMUDP::WouldBlock()); }),
                 QStringLiteral("UDPSockError Unknown Error No. 9"));
        layerError = 0;  // 0 holds none of the mask's bits, so it is not ignored
        QCOMPARE(endpointError([&] { udp->CheckSocketError(TNMUDP::WouldBlock()); }),
                 QStringLiteral("UDPSockError "));
        QCOMPARE(udp->SocketErrorText(10054), QStringLiteral("Unknown Error No. 10054"));
        QCOMPARE(statuses.first(), QStringLiteral("Checking Error In Error Manager"));
        QCOMPARE(statuses.last(),
                 QStringLiteral("Looking Up Error MessageUnknown Error No. 10054"));
    }

    void clientSimulatorPrintsWhatArrives() {
        const quint16 port = FreeUdpPort();
        QProcess sim;
        sim.start(QStringLiteral(CLIENT_SIM),
                  {QStringLiteral("--port"), QString::number(port), QStringLiteral("--count"),
                   QStringLiteral("1"), QStringLiteral("--search-port"), QStringLiteral("0")});
        QVERIFY(sim.waitForStarted());
        QVERIFY(sim.waitForReadyRead(5000));
        QVERIFY(sim.readLine().startsWith("listening on 127.0.0.1:"));

        Env env;
        env.desk->NMUDP1->RemotePort = port;
        env.desk->SelectedMachine = QStringLiteral("127.0.0.1");
        QVERIFY(SendCommand(*env.desk, Command::Message(QStringLiteral("你好"))));
        QVERIFY(sim.waitForFinished(5000));
        const QString out = QString::fromUtf8(sim.readAll());
        QVERIFY2(out.contains(QStringLiteral("30 bytes, text \" 你好\"")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("hex 20 c4 e3 ba c3 00")));
        QVERIFY(out.contains(QStringLiteral(":%1,").arg(env.desk->NMUDP1->LocalPort())));
    }

    void searchFieldsAreCheckedBeforeAnything_data() {
        QTest::addColumn<QStringList>("fields");  // port, delay, domain, start, end
        QTest::addColumn<QString>("answer");      // the box, or the range as read
        const auto row = [](const char* name, QStringList fields, const QString& answer) {
            QTest::newRow(name) << fields << answer;
        };
        row("defaults", {"7626", "2000", "192.168.0", "1", "255"}, "192.168.0.1-255:7626/2000");
        row("edges", {"1", "100", "0.0.0", "0", "0"}, "0.0.0.0-0:1/100");
        row("edges, high", {"65535", "10000", "255.255.255", "255", "255"},
            "255.255.255.255-255:65535/10000");
        row("blanks around, zeros in front", {" 80 ", "500", " 10.001.7 ", "3", "9"},
            "10.1.7.3-9:80/500");
        for (const char* port : {"0", "65536", "", "abc", "-1", "+80", "8 0", "0x50", "99999999"})
            row(qPrintable(QStringLiteral("port '%1'").arg(QString::fromLatin1(port))),
                {port, "2000", "192.168.0", "1", "255"}, SearchText::BadPort);
        for (const char* delay : {"99", "10001", "2000ms", "", "1e3"})
            row(qPrintable(QStringLiteral("delay '%1'").arg(QString::fromLatin1(delay))),
                {"7626", delay, "192.168.0", "1", "255"}, SearchText::BadDelay);
        for (const char* domain : {"192.168", "192.168.0.1", "192.168.256", "a.b.c", "192..0",
                                   "192.168.-1", "", "192.168.0.", "192. 168.0", "１９２.168.0"})
            row(qPrintable(QStringLiteral("domain '%1'").arg(QString::fromUtf8(domain))),
                {"7626", "2000", domain, "1", "255"}, SearchText::BadDomain);
        for (const QStringList& ends :
             {QStringList{"256", "255"}, QStringList{"1", "256"}, QStringList{"-1", "5"},
              QStringList{"", "5"}, QStringList{"1", "x"}})
            row(qPrintable(QStringLiteral("addresses %1").arg(ends.join(u'-'))),
                {"7626", "2000", "192.168.0", ends[0], ends[1]}, SearchText::BadAddress);
        row("start after end", {"7626", "2000", "192.168.0", "10", "9"}, SearchText::StartAfterEnd);
        // The first wrong field is the one named.
        row("port and delay both wrong", {"0", "0", "x", "9", "1"}, SearchText::BadPort);
    }
    void searchFieldsAreCheckedBeforeAnything() {
        QFETCH(QStringList, fields);
        QFETCH(QString, answer);
        const auto read = ParseSearchFields(fields[0], fields[1], fields[2], fields[3], fields[4]);
        if (const QString* error = std::get_if<QString>(&read)) {
            QCOMPARE(*error, answer);
            return;
        }
        const SearchRange& r = std::get<SearchRange>(read);
        QCOMPARE(QStringLiteral("%1.%2-%3:%4/%5")
                     .arg(r.domain)
                     .arg(r.first)
                     .arg(r.last)
                     .arg(r.port)
                     .arg(r.timeoutMs),
                 answer);
    }

    // Two machines in 127.0.0.1-20, one address that never answers (the probe times out), a
    // listener just past the end that must not be asked.
    void searchFindsTheListeningMachines() {
        SearchListener five(QStringLiteral("127.0.0.5"));
        SearchListener nine(QStringLiteral("127.0.0.9"), five.port());
        SearchListener past(QStringLiteral("127.0.0.21"), five.port());
        Tarpit silent(QStringLiteral("127.0.0.3"), five.port());
        FakeResolver resolver;
        resolver.names.insert(0x7F000009, QStringLiteral("pc09"));
        AddressSearch search(resolver);
        QSignalSpy found(&search, &AddressSearch::found);
        QSignalSpy named(&search, &AddressSearch::named);
        QSignalSpy progressed(&search, &AddressSearch::progressed);
        QSignalSpy finished(&search, &AddressSearch::finished);
        int mostAtOnce = 0;
        connect(&search, &AddressSearch::progressed, this,
                [&] { mostAtOnce = std::max(mostAtOnce, search.InFlight()); });
        search.Start({QStringLiteral("127.0.0"), 1, 20, five.port(), 300}, 8);
        QVERIFY(search.Running());
        QCOMPARE(search.InFlight(), 8);  // bounded from the start
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QCOMPARE(finished[0], (QVariantList{2, false}));
        QCOMPARE((QStringList{found[0][0].toString(), found[1][0].toString()}),
                 (QStringList{"127.0.0.5", "127.0.0.9"}));
        QCOMPARE(progressed.count(), 21);  // 0 of 20, then one per address
        QCOMPARE(progressed.last(), (QVariantList{20, 20}));
        QVERIFY(mostAtOnce <= 8);
        QCOMPARE(search.InFlight(), 0);
        QTRY_COMPARE(named.count(), 1);
        QCOMPARE(named[0], (QVariantList{"127.0.0.9", "pc09"}));
        QCOMPARE(five.connections, 1);
        QCOMPARE(nine.connections, 1);
        QCOMPARE(past.connections, 0);
        QVERIFY(!search.Running());
    }

    // Two probes at a time, both stuck on silent addresses: a stop ends them, and the listener
    // further on is never asked, not even after the probes would have timed out.
    void stoppedSearchStartsNoMoreProbes() {
        SearchListener later(QStringLiteral("127.0.0.6"));
        Tarpit three(QStringLiteral("127.0.0.3"), later.port());
        Tarpit four(QStringLiteral("127.0.0.4"), later.port());
        FakeResolver resolver;
        AddressSearch search(resolver);
        QSignalSpy progressed(&search, &AddressSearch::progressed);
        QSignalSpy finished(&search, &AddressSearch::finished);
        search.Start({QStringLiteral("127.0.0"), 1, 20, later.port(), 400}, 2);
        QTRY_COMPARE(search.Done(), 2);  // 1 and 2 refuse at once; 3 and 4 hang
        QCOMPARE(search.InFlight(), 2);
        search.Stop();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0], (QVariantList{0, true}));
        QCOMPARE(search.InFlight(), 0);
        const int signalled = progressed.count();
        QTest::qWait(700);
        QCOMPARE(later.connections, 0);
        QCOMPARE(progressed.count(), signalled);
        QCOMPARE(finished.count(), 1);
        search.Stop();  // a second stop says nothing
        QCOMPARE(finished.count(), 1);
    }

    void clientSimulatorAnswersTheSearch() {
        SearchListener probeForAPort(QStringLiteral("127.0.0.1"));
        const quint16 tcp = probeForAPort.port();
        probeForAPort.server.close();
        QProcess sim;
        sim.start(QStringLiteral(CLIENT_SIM),
                  {QStringLiteral("--port"), QString::number(FreeUdpPort()),
                   QStringLiteral("--search-port"), QString::number(tcp)});
        QVERIFY(sim.waitForStarted());
        QByteArray said;
        QTRY_VERIFY((said += sim.readAllStandardOutput()).contains("answering searches"));
        FakeResolver resolver;
        AddressSearch search(resolver);
        QSignalSpy found(&search, &AddressSearch::found);
        search.Start({QStringLiteral("127.0.0"), 1, 1, tcp, 2000});
        QTRY_VERIFY(!search.Running());
        QCOMPARE(found.count(), 1);
        sim.kill();
        sim.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(ClientChannelTest)
#include "test_client_channel.moc"
