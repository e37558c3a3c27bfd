// The remote control on the session bus, driven by real clients (playerctl, dbus-send)
// and watched from a second bus connection, with the real window and player.
#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

#include <memory>
#include <string>

#include "app/MovieWindow1.h"
#include "app/Mpris.h"
#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "support/AppTestMain.h"
#include "support/MainWindowFixture.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;
using kino::TMprisService;

namespace {

constexpr int kTimeout = 20000;
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProps = QStringLiteral("org.freedesktop.DBus.Properties");

// What another program on the bus hears from the player.
class BusListener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes; // the changed properties of each PropertiesChanged
    QList<qlonglong> seeks;

    // The last announced value of a property, or an invalid QVariant.
    QVariant Last(const QString& name) const
    {
        for (auto it = changes.crbegin(); it != changes.crend(); ++it)
            if (it->contains(name))
                return it->value(name);
        return {};
    }
    QVariantMap LastMetadata() const
    {
        const QVariant v = Last(QStringLiteral("Metadata"));
        if (v.canConvert<QDBusArgument>())
            return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
        return v.toMap();
    }

public slots:
    void Changed(const QString& iface, const QVariantMap& props, const QStringList&)
    {
        if (iface == kPlayer)
            changes << props;
    }
    void Seeked(qlonglong position) { seeks << position; }
};

} // namespace

class MprisTest : public QObject, MainWindowFixture {
    Q_OBJECT

    QTemporaryDir dir;
    TMprisService* service = nullptr;
    QDBusConnection client{QString()};

    // The window with the two clips, shown (the first starts), continuous play off
    // so the short clips stay where the test put them.
    TMovieForm1& MakeForm()
    {
        MainWindowFixture::MakeForm({Fixture("clip.avi"), Fixture("clip.mpg")});
        form->show();
        if (parts.continuousPlayAction->isChecked())
            parts.continuousPlayAction->trigger();
        return *form;
    }

    // Runs a client to its end while this process goes on answering its bus calls.
    QString Run(const QString& program, const QStringList& args, int* exitCode = nullptr)
    {
        QProcess p;
        p.start(program, args);
        if (!p.waitForStarted(kTimeout))
            return QStringLiteral("<%1 did not start>").arg(program);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, kTimeout)) {
            p.kill();
            p.waitForFinished();
            return QStringLiteral("<%1 did not finish>").arg(program);
        }
        if (exitCode)
            *exitCode = p.exitCode();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString Ctl(const QStringList& args)
    {
        return Run(QStringLiteral("playerctl"), QStringList{"-p", "kinolite"} + args);
    }
    QString Title() { return Ctl({"metadata", "--format", "{{xesam:title}}"}); }
    double PositionSeconds() { return Ctl({"position"}).toDouble(); }

    // dbus-send with a reply, as a shell script would control the player.
    int Send(const QStringList& args)
    {
        int code = -1;
        Run(QStringLiteral("dbus-send"),
            QStringList{"--session", "--print-reply", "--dest=" + service->ServiceName(), kPath} + args, &code);
        return code;
    }

    // A property as another connection reads it.
    QVariant Get(const QString& iface, const QString& name)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(service->ServiceName(), kPath, kProps, QStringLiteral("Get"));
        m << iface << name;
        QDBusPendingCall call = client.asyncCall(m);
        if (!QTest::qWaitFor([&] { return call.isFinished(); }, kTimeout) || call.isError())
            return {};
        return call.reply().arguments().value(0).value<QDBusVariant>().variant();
    }

    bool Listen(BusListener& listener)
    {
        const QString name = service->ServiceName();
        return client.connect(name, kPath, kProps, QStringLiteral("PropertiesChanged"), &listener,
                              SLOT(Changed(QString, QVariantMap, QStringList))) &&
               client.connect(name, kPath, kPlayer, QStringLiteral("Seeked"), &listener, SLOT(Seeked(qlonglong)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("mpris-test-client"));
        QVERIFY(client.isConnected());
    }
    void cleanupTestCase() { QDBusConnection::disconnectFromBus(QStringLiteral("mpris-test-client")); }
    void init()
    {
        QFile::remove(SettingsFile());
        dialogs.errors.clear();
        dialogs.messages.clear();
    }
    void cleanup()
    {
        form.reset(); // takes the service with it
        service = nullptr;
    }

    void offersItsIdentityToTheDesktop()
    {
        MakeForm();
        service = kino::StartMpris(form.get());
        QVERIFY(service);
        QCOMPARE(service->ServiceName(), QStringLiteral("org.mpris.MediaPlayer2.kinolite"));
        QVERIFY(Run(QStringLiteral("playerctl"), {"-l"}).split('\n').contains(QStringLiteral("kinolite")));

        const QString root = QStringLiteral("org.mpris.MediaPlayer2");
        QCOMPARE(Get(root, "Identity").toString(), QStringLiteral("KINOLITE"));
        QCOMPARE(Get(root, "DesktopEntry").toString(), QStringLiteral("kinolite"));
        QCOMPARE(Get(root, "CanQuit").toBool(), true);
        QCOMPARE(Get(root, "CanRaise").toBool(), true);
        QCOMPARE(Get(root, "HasTrackList"), QVariant(false));
        QCOMPARE(Get(root, "CanSetFullscreen"), QVariant(false));
        QCOMPARE(Get(root, "SupportedUriSchemes").toStringList(),
                 (QStringList{"file", "http", "https", "rtsp", "mms"}));
        const QStringList mimes = Get(root, "SupportedMimeTypes").toStringList();
        QCOMPARE(mimes.size(), 14);
        for (const char* m : {"video/x-msvideo", "video/mpeg", "audio/x-wav", "audio/midi"})
            QVERIFY2(mimes.contains(QLatin1String(m)), m);

        QCOMPARE(Get(kPlayer, "CanControl"), QVariant(true));
        QCOMPARE(Get(kPlayer, "MinimumRate").toDouble(), 0.5);
        QCOMPARE(Get(kPlayer, "MaximumRate").toDouble(), 2.0);
    }

    void transportFollowsAClient()
    {
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QCOMPARE(Ctl({"status"}), QStringLiteral("Playing"));

        Ctl({"play-pause"});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Paused, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(Ctl({"status"}), QStringLiteral("Paused"), kTimeout);
        Ctl({"pause"}); // already paused: stays so
        QCOMPARE(Ctl({"status"}), QStringLiteral("Paused"));

        QCOMPARE(Title(), QStringLiteral("clip.avi"));
        QCOMPARE(Get(kPlayer, "CanGoPrevious"), QVariant(false));
        QCOMPARE(Get(kPlayer, "CanGoNext"), QVariant(true));
        Ctl({"next"});
        QTRY_COMPARE_WITH_TIMEOUT(Title(), QStringLiteral("clip.mpg"), kTimeout);
        QCOMPARE(parts.playlist->ItemIndex(), 1);
        QCOMPARE(Get(kPlayer, "CanGoNext"), QVariant(false));
        QCOMPARE(Get(kPlayer, "CanGoPrevious"), QVariant(true));

        Ctl({"previous"});
        QTRY_COMPARE_WITH_TIMEOUT(Title(), QStringLiteral("clip.avi"), kTimeout);
        QCOMPARE(parts.playlist->ItemIndex(), 0);

        Ctl({"stop"});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(Ctl({"status"}), QStringLiteral("Stopped"), kTimeout);
        Ctl({"play"});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QVERIFY(dialogs.errors.isEmpty());
    }

    void positionAndMetadataAnswerAClient()
    {
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        // Paused, so the position stays where the client puts it.
        Ctl({"pause"});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Paused, kTimeout);

        QCOMPARE(Ctl({"metadata", "xesam:url"}),
                 QUrl::fromLocalFile(FixturePath("clip.avi")).toString(QUrl::FullyEncoded));
        const QVariant metadata = Get(kPlayer, "Metadata");
        QVERIFY(metadata.canConvert<QDBusArgument>());
        const QVariant track = qdbus_cast<QVariantMap>(metadata.value<QDBusArgument>()).value("mpris:trackid");
        QCOMPARE(track.metaType(), QMetaType::fromType<QDBusObjectPath>()); // an object path, as clients need
        QCOMPARE(track.value<QDBusObjectPath>().path(), QStringLiteral("/org/kinolite/track/0"));
        // The clip lasts two seconds.
        QVERIFY(qAbs(Ctl({"metadata", "mpris:length"}).toLongLong() - 2000000) < 200000);

        Ctl({"position", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(PositionSeconds() - 1.0) < 0.1, kTimeout);
        QVERIFY(qAbs(parts.player->GetCurrentPos() - 1000) < 100);

        // A position meant for another entry is stale and ignored; the same call for
        // the shown entry moves.
        QCOMPARE(Send({QStringLiteral("org.mpris.MediaPlayer2.Player.SetPosition"), "objpath:/org/kinolite/track/1",
                       "int64:1500000"}),
                 0);
        QVERIFY(qAbs(PositionSeconds() - 1.0) < 0.1);
        QCOMPARE(Send({QStringLiteral("org.mpris.MediaPlayer2.Player.SetPosition"), "objpath:/org/kinolite/track/0",
                       "int64:1500000"}),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(PositionSeconds() - 1.5) < 0.1, kTimeout);

        // A relative seek from there.
        Ctl({"position", "1-"});
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(PositionSeconds() - 0.5) < 0.1, kTimeout);

        Ctl({"volume", "0.25"});
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->Volume(), 0.25, kTimeout);
        QCOMPARE(Ctl({"volume"}).toDouble(), 0.25);
    }

    void changesAreAnnouncedToListeners()
    {
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        BusListener heard;
        QVERIFY(Listen(heard));
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);

        // Commands given in the window itself, not over the bus.
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(heard.Last("PlaybackStatus").toString(), QStringLiteral("Paused"), kTimeout);

        parts.nextTrackAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(heard.LastMetadata().value("xesam:title").toString(), QStringLiteral("clip.mpg"),
                                  kTimeout);
        QCOMPARE(heard.LastMetadata().value("mpris:trackid").value<QDBusObjectPath>().path(),
                 QStringLiteral("/org/kinolite/track/1"));
        QCOMPARE(heard.Last("CanGoNext"), QVariant(false));
        QCOMPARE(heard.Last("CanGoPrevious"), QVariant(true));
        QTRY_VERIFY_WITH_TIMEOUT(heard.LastMetadata().value("mpris:length").toLongLong() > 0, kTimeout);

        parts.doubleSpeedAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(heard.Last("Rate").toDouble(), 2.0, kTimeout);

        // An entry added after the last one makes a next entry.
        parts.stopAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(heard.Last("PlaybackStatus").toString(), QStringLiteral("Stopped"), kTimeout);
        parts.playlist->Items().Add(Fixture("tone.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(heard.Last("CanGoNext"), QVariant(true), kTimeout);

        Ctl({"position", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(!heard.seeks.isEmpty() && qAbs(heard.seeks.last() - 1000000) < 100000, kTimeout);
    }

    void rateChoosesTheNearestSpeed_data()
    {
        QTest::addColumn<double>("requested");
        QTest::addColumn<QString>("item");
        QTest::addColumn<double>("reported");
        QTest::newRow("double") << 2.0 << "N22" << 2.0;
        QTest::newRow("half") << 0.5 << "N051" << 0.5;
        QTest::newRow("between, nearer 1.5") << 1.4 << "N21" << 1.5;
        QTest::newRow("between, nearer 1.0") << 0.9 << "N13" << 1.0;
        QTest::newRow("above the maximum") << 4.0 << "N22" << 2.0;
    }
    void rateChoosesTheNearestSpeed()
    {
        QFETCH(double, requested);
        QFETCH(QString, item);
        QFETCH(double, reported);
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        QCOMPARE(
            Send({kProps + ".Set", "string:" + kPlayer, "string:Rate", "variant:double:" + QString::number(requested)}),
            0);
        auto* action = f.findChild<QAction*>(item);
        QVERIFY(action);
        QTRY_VERIFY_WITH_TIMEOUT(action->isChecked(), kTimeout);
        QCOMPARE(Get(kPlayer, "Rate").toDouble(), reported);
    }

    void urlOfAnEntryKeepsItsBytes_data()
    {
        QTest::addColumn<QByteArray>("folder"); // "" for the current one
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("encodedName");
        const QByteArray fixtures = QFile::encodeName(FixturePath(QString()));
        QTest::newRow("Shift-JIS") << fixtures << QByteArray("\x83\x65\x83\x58\x83\x67.avi")
                                   << QByteArray("%83e%83X%83g.avi");
        QTest::newRow("space, # and %") << QFile::encodeName(dir.path()) + "/" << QByteArray("a b#c%d.avi")
                                        << QByteArray("a%20b%23c%25d.avi");
        QTest::newRow("relative") << QByteArray() << QByteArray("clip.avi") << QByteArray("clip.avi");
    }
    void urlOfAnEntryKeepsItsBytes()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, encodedName);
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        parts.playlist->Items().Add((folder + name).toStdString());
        parts.playlist->SetItemIndex(2);
        const QByteArray full = folder.isEmpty() ? QFile::encodeName(QDir::currentPath()) + "/" : folder;
        const QVariant metadata = Get(kPlayer, "Metadata");
        QCOMPARE(qdbus_cast<QVariantMap>(metadata.value<QDBusArgument>()).value("xesam:url").toString(),
                 "file://" + full.toPercentEncoding("/") + encodedName);
    }

    void openUriAddsToThePlaylist()
    {
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        const QString url = QStringLiteral("http://127.0.0.1:9/stream.mpg");
        Ctl({"open", url});
        QTRY_COMPARE_WITH_TIMEOUT(parts.playlist->Items().Count(), 3, kTimeout);
        QCOMPARE(QString::fromStdString(parts.playlist->Items().Strings(2)), url);
        QCOMPARE(parts.playlist->ItemIndex(), 0); // the playing entry goes on
    }

    void quitClosesTheWindowAndRaiseShowsIt()
    {
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        QVERIFY(service);
        f.hide();
        QCOMPARE(Send({"org.mpris.MediaPlayer2.Raise"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(f.isVisible(), kTimeout);

        QVERIFY(!QFile::exists(SettingsFile()));
        QCOMPARE(Send({"org.mpris.MediaPlayer2.Quit"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible(), kTimeout);
        QFile ini(SettingsFile());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY(text.contains("M_TOP"));
        QVERIFY(text.contains("M_LEFT"));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void aTakenNameGetsAnInstanceName()
    {
        const QString base = QStringLiteral("org.mpris.MediaPlayer2.kinolite");
        QVERIFY(client.registerService(base));
        TMovieForm1& f = MakeForm();
        service = kino::StartMpris(&f);
        client.unregisterService(base);
        QVERIFY(service);
        const QString expected = base + QStringLiteral(".instance%1").arg(::getpid());
        QCOMPARE(service->ServiceName(), expected);
        QVERIFY(client.interface()->isServiceRegistered(expected));
        QCOMPARE(Get(QStringLiteral("org.mpris.MediaPlayer2"), "Identity").toString(), QStringLiteral("KINOLITE"));

        form.reset(); // the name goes with the window
        service = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(!client.interface()->isServiceRegistered(expected), kTimeout);
    }

    void withoutASessionBusNothingStarts()
    {
        QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=%1").arg(dir.filePath(QStringLiteral("no-such-socket"))),
            QStringLiteral("mpris-test-none"));
        QVERIFY(!none.isConnected());
        TMovieForm1& f = MakeForm();
        QCOMPARE(kino::StartMpris(&f, none), nullptr);
        QDBusConnection::disconnectFromBus(QStringLiteral("mpris-test-none"));
        QVERIFY(!f.findChild<TMprisService*>());
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(dialogs.messages.isEmpty());
        // The window plays on as before.
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Paused, kTimeout);
    }
};

KINO_APP_TEST_MAIN(MprisTest)
#include "test_mpris.moc"
