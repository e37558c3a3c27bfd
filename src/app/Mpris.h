#pragma once
// The desktop's media-player remote control on the session bus: the main window's
// commands and state, offered to sound applets, media keys and command-line clients.
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusObjectPath;

namespace kino {

class TMovieForm1;

class TMprisService : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kBaseName = "org.mpris.MediaPlayer2.kinolite";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

    // Registers on `connection`; Registered() tells whether that worked. A child of
    // `form`, so it goes with the window.
    TMprisService(TMovieForm1* form, const QDBusConnection& connection);
    ~TMprisService() override;

    bool Registered() const { return !serviceName_.isEmpty(); }
    // The bus name held: the base name, or one with ".instance<pid>" when it was taken.
    const QString& ServiceName() const { return serviceName_; }

    // Values of org.mpris.MediaPlayer2.Player, read from the window on each call.
    QString PlaybackStatus() const;
    double Rate() const;
    QVariantMap Metadata() const;
    double Volume() const;
    qlonglong PositionUs() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    bool CanPlay() const;
    QString TrackId() const;

    // Commands, each through the window's own menu items.
    void Raise();
    void Quit();
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offsetUs);
    void SetPosition(const QDBusObjectPath& track, qlonglong positionUs);
    void OpenUri(const QString& uri);
    void SetRate(double rate);
    void SetVolume(double volume);

    // Compares the changeable properties with what clients were last told and
    // signals the differences.
    void Refresh();

signals:
    void Seeked(qlonglong positionUs);

private:
    QVariantMap ChangeableProperties() const;

    TMovieForm1* form_;
    QDBusConnection connection_;
    QString serviceName_;
    QVariantMap told_;
};

// Starts the remote control on the session bus for the main window. Returns nullptr,
// silently, when there is no session bus or the object cannot be registered.
TMprisService* StartMpris(TMovieForm1* form);
TMprisService* StartMpris(TMovieForm1* form, const QDBusConnection& connection);

} // namespace kino
