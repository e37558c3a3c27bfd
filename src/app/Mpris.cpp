#include "app/Mpris.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QStringList>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "platform/FolderListing.h"
#include "platform/PathRules.h"
#include "platform/Text.h"
#include "player/PlayerBars.h"
#include "player/TGKitMSPlay.h"

namespace kino {
namespace mpris_detail {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// org.mpris.MediaPlayer2: who the player is and what it offers the desktop.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
    Q_PROPERTY(bool Fullscreen READ Fullscreen)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit RootAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    bool CanSetFullscreen() const { return false; }
    bool Fullscreen() const { return false; }
    QString Identity() const { return QStringLiteral("KINOLITE"); }
    QString DesktopEntry() const { return QStringLiteral("kinolite"); }
    QStringList SupportedUriSchemes() const
    {
        return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("rtsp"),
                QStringLiteral("mms")};
    }
    QStringList SupportedMimeTypes() const
    {
        return {QStringLiteral("video/vnd.avi"),  QStringLiteral("video/x-msvideo"),   QStringLiteral("video/avi"),
                QStringLiteral("video/msvideo"),  QStringLiteral("video/x-avi"),       QStringLiteral("video/mpeg"),
                QStringLiteral("video/x-mpeg"),   QStringLiteral("video/mpeg-system"), QStringLiteral("video/x-mpeg2"),
                QStringLiteral("audio/vnd.wave"), QStringLiteral("audio/wav"),         QStringLiteral("audio/x-wav"),
                QStringLiteral("audio/midi"),     QStringLiteral("audio/x-midi")};
    }

public slots:
    void Raise() { service_->Raise(); }
    void Quit() { service_->Quit(); }

private:
    TMprisService* service_;
};

// org.mpris.MediaPlayer2.Player: the transport, the current entry and the sound.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ MinimumRate)
    Q_PROPERTY(double MaximumRate READ MaximumRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit PlayerAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service)
    {
        connect(service, &TMprisService::Seeked, this, &PlayerAdaptor::Seeked);
    }

    QString PlaybackStatus() const { return service_->PlaybackStatus(); }
    double Rate() const { return service_->Rate(); }
    void SetRate(double rate) { service_->SetRate(rate); }
    double MinimumRate() const { return 0.5; }
    double MaximumRate() const { return 2.0; }
    QVariantMap Metadata() const { return service_->Metadata(); }
    double Volume() const { return service_->Volume(); }
    void SetVolume(double volume) { service_->SetVolume(volume); }
    qlonglong Position() const { return service_->PositionUs(); }
    bool CanGoNext() const { return service_->CanGoNext(); }
    bool CanGoPrevious() const { return service_->CanGoPrevious(); }
    bool CanPlay() const { return service_->CanPlay(); }
    bool CanPause() const { return true; }
    bool CanSeek() const { return true; }
    bool CanControl() const { return true; }

public slots:
    void Next() { service_->Next(); }
    void Previous() { service_->Previous(); }
    void Pause() { service_->Pause(); }
    void PlayPause() { service_->PlayPause(); }
    void Stop() { service_->Stop(); }
    void Play() { service_->Play(); }
    void Seek(qlonglong Offset) { service_->Seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) { service_->SetPosition(TrackId, Position); }
    void OpenUri(const QString& Uri) { service_->OpenUri(Uri); }

signals:
    void Seeked(qlonglong Position);

private:
    TMprisService* service_;
};

// The speed items with the rate each stands for.
struct SpeedItem {
    QAction* action;
    double rate;
};

} // namespace mpris_detail

using namespace mpris_detail;

namespace {

// The Play menu's speed items, found by their design names.
std::array<SpeedItem, 4> SpeedItems(const TMovieForm1* form)
{
    const auto item = [form](const char* name) { return form->findChild<QAction*>(QString::fromLatin1(name)); };
    return {{{item("N051"), 0.5}, {item("N13"), 1.0}, {item("N21"), 1.5}, {item("N22"), 2.0}}};
}

// A local path becomes a file URI, its full path's bytes percent-encoded as they
// are, so a name that is not UTF-8 names the same file; a text with a scheme is
// a URL already.
QString UrlOf(const std::string& entry)
{
    if (HasUriScheme(entry))
        return ToDisplay(entry);
    return QStringLiteral("file://") +
           QString::fromLatin1(QByteArray::fromStdString(FullPathOf(entry)).toPercentEncoding("/"));
}

QString TitleOf(const std::string& entry)
{
    if (HasUriScheme(entry))
        return ToDisplay(entry);
    const auto slash = entry.rfind('/');
    return ToDisplay(slash == std::string::npos ? entry : entry.substr(slash + 1));
}

} // namespace

TMprisService::TMprisService(TMovieForm1* form, const QDBusConnection& connection)
    : QObject(form), form_(form), connection_(connection)
{
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!connection_.isConnected() ||
        !connection_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return;
    QString name = QString::fromLatin1(kBaseName);
    if (!connection_.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(::getpid());
        if (!connection_.registerService(name)) {
            connection_.unregisterObject(QString::fromLatin1(kObjectPath));
            return;
        }
    }
    serviceName_ = name;
    told_ = ChangeableProperties();

    // The controls raise these right after the window's own events, so the window's
    // handlers have run when clients are told.
    TGKitMSPlay* player = form_->player_;
    connect(player, &TGKitMSPlay::statusNotified, this, &TMprisService::Refresh);
    connect(form_->playlist_, &TdxfCustomComboBox::changed, this, &TMprisService::Refresh);
    // Entries added or removed without a change of selection still move CanGoNext.
    connect(&form_->playlist_->Items(), &TdxfItems::changed, this, &TMprisService::Refresh);
    for (const SpeedItem& item : SpeedItems(form_))
        connect(item.action, &QAction::toggled, this, &TMprisService::Refresh);
    connect(player, &TGKitMSPlay::factsChanged, this, &TMprisService::Refresh);
    connect(player, &TGKitMSPlay::positionJumped, this, [this] { emit Seeked(PositionUs()); });
    connect(player->Bar(), &PlayerControlBar::volumeChanged, this, &TMprisService::Refresh);
}

TMprisService::~TMprisService()
{
    if (Registered()) {
        connection_.unregisterService(serviceName_);
        connection_.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

QString TMprisService::PlaybackStatus() const
{
    switch (form_->playerStatus_) {
    case TGKitMSPlay::Playing:
        return QStringLiteral("Playing");
    case TGKitMSPlay::Paused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

double TMprisService::Rate() const
{
    for (const SpeedItem& item : SpeedItems(form_))
        if (item.action->isChecked())
            return item.rate;
    return form_->player_->Speed();
}

QString TMprisService::TrackId() const
{
    const int index = form_->playlist_->ItemIndex();
    if (index < 0 || index >= form_->playlist_->Items().Count())
        return QString::fromLatin1(kNoTrack);
    return QStringLiteral("/org/kinolite/track/%1").arg(index);
}

QVariantMap TMprisService::Metadata() const
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackId())));
    const int index = form_->playlist_->ItemIndex();
    if (index < 0 || index >= form_->playlist_->Items().Count())
        return map;
    const std::string& entry = form_->playlist_->Items().Strings(index);
    map.insert(QStringLiteral("xesam:url"), UrlOf(entry));
    map.insert(QStringLiteral("xesam:title"), TitleOf(entry));
    // The length belongs to the entry only once the player holds that entry.
    if (form_->player_->FileName() == entry) {
        const qint64 ms = form_->player_->DurationMs();
        if (ms > 0)
            map.insert(QStringLiteral("mpris:length"), qlonglong(ms) * 1000);
    }
    return map;
}

double TMprisService::Volume() const
{
    return form_->player_->Volume();
}

qlonglong TMprisService::PositionUs() const
{
    return qlonglong(form_->player_->GetCurrentPos()) * 1000;
}

bool TMprisService::CanGoNext() const
{
    const int count = form_->playlist_->Items().Count();
    return count > 0 && form_->playlist_->ItemIndex() < count - 1;
}

bool TMprisService::CanGoPrevious() const
{
    return form_->playlist_->ItemIndex() > 0;
}

bool TMprisService::CanPlay() const
{
    return form_->playlist_->Items().Count() > 0;
}

void TMprisService::Raise()
{
    form_->show();
    form_->raise();
    form_->activateWindow();
}

void TMprisService::Quit()
{
    // Closed after the reply has gone out, so the caller is not left waiting on a
    // program that is shutting down.
    QMetaObject::invokeMethod(
        form_, [form = form_] { form->close(); }, Qt::QueuedConnection);
}

void TMprisService::Next()
{
    form_->nextTrackAction_->trigger();
}
void TMprisService::Previous()
{
    form_->previousTrackAction_->trigger();
}
void TMprisService::PlayPause()
{
    form_->playPauseAction_->trigger();
}
void TMprisService::Stop()
{
    form_->stopAction_->trigger();
}

void TMprisService::Pause()
{
    if (form_->playerStatus_ == TGKitMSPlay::Playing)
        form_->playPauseAction_->trigger();
}

void TMprisService::Play()
{
    if (form_->playerStatus_ == TGKitMSPlay::Stopped || form_->playerStatus_ == TGKitMSPlay::Paused)
        form_->playPauseAction_->trigger();
}

void TMprisService::Seek(qlonglong offsetUs)
{
    TGKitMSPlay* player = form_->player_;
    const qint64 duration = player->DurationMs();
    qint64 target = qint64(player->GetCurrentPos()) + offsetUs / 1000;
    if (target < 0)
        target = 0;
    // Past the end means the next entry, as clients expect.
    if (duration >= 0 && target > duration) {
        Next();
        return;
    }
    player->SeekToMs(target);
}

void TMprisService::SetPosition(const QDBusObjectPath& track, qlonglong positionUs)
{
    // A request meant for an entry no longer shown is stale.
    if (track.path() != TrackId() || track.path() == QLatin1String(kNoTrack))
        return;
    const qint64 duration = form_->player_->DurationMs();
    if (positionUs < 0 || (duration >= 0 && positionUs / 1000 > duration))
        return;
    form_->player_->SeekToMs(positionUs / 1000);
}

void TMprisService::OpenUri(const QString& uri)
{
    if (uri.isEmpty())
        return;
    form_->playlist_->Items().Add(uri.toStdString());
    form_->AfterAddSelection();
    Refresh();
}

void TMprisService::SetRate(double rate)
{
    if (std::isnan(rate))
        return;
    if (rate <= 0.0) {
        // A rate of zero means a pause to clients.
        Pause();
        return;
    }
    QAction* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const SpeedItem& item : SpeedItems(form_)) {
        const double d = std::abs(item.rate - rate);
        if (d < best) {
            best = d;
            nearest = item.action;
        }
    }
    nearest->trigger();
    Refresh();
}

void TMprisService::SetVolume(double volume)
{
    if (std::isnan(volume))
        return;
    form_->player_->SetVolume(volume);
    Refresh();
}

QVariantMap TMprisService::ChangeableProperties() const
{
    // Position is left out: clients work it out from Rate and Seeked.
    return {
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("Rate"), Rate()},
        {QStringLiteral("Metadata"), Metadata()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
        {QStringLiteral("CanPlay"), CanPlay()},
    };
}

void TMprisService::Refresh()
{
    if (!Registered())
        return;
    const QVariantMap now = ChangeableProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (told_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    if (changed.isEmpty())
        return;
    told_ = now;
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    connection_.send(signal);
}

TMprisService* StartMpris(TMovieForm1* form, const QDBusConnection& connection)
{
    if (!form || !connection.isConnected())
        return nullptr;
    auto* service = new TMprisService(form, connection);
    if (!service->Registered()) {
        delete service;
        return nullptr;
    }
    return service;
}

TMprisService* StartMpris(TMovieForm1* form)
{
    // Without a session bus there is no desktop to serve: asking for one would make
    // D-Bus start a bus daemon of its own for this X display.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (address.isEmpty() && (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime + "/bus"))))
        return nullptr;
    return StartMpris(form, QDBusConnection::sessionBus());
}

} // namespace kino

#include "Mpris.moc"
