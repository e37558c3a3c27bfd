#include "player/TGKitMSPlay.h"

#include <QApplication>
#include <QClipboard>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "player/FrameClipboard.h"
#include "player/FrameImage.h"
#include "player/PlayerBars.h"
#include "player/VideoView.h"
#include "player/engine/PlayerEngine.h"
#include "player/engine/PlayerLog.h"
#include "player/engine/StartupTrace.h"

namespace kino {

namespace {

std::int16_t ClampToShort(int value)
{
    return std::int16_t(std::clamp(value, 0, int(std::numeric_limits<std::int16_t>::max())));
}

} // namespace

QString TGKitMSPlay::ReasonFor(int code)
{
    switch (code) {
    case PlayerEngine::NotFound:
        return QStringLiteral("ファイルが見つかりません");
    case PlayerEngine::Unsupported:
        return QStringLiteral("この形式は再生できません");
    case PlayerEngine::Broken:
        return QStringLiteral("データが壊れているため再生できません");
    case PlayerEngine::NoAnswer:
        return QStringLiteral("接続先から応答がありません");
    case PlayerEngine::NetworkError:
        return QStringLiteral("接続先から読み込めません");
    default:
        return QStringLiteral("再生できません");
    }
}

TGKitMSPlay::TGKitMSPlay(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);

    engine_ = new PlayerEngine(this);
    view_ = new VideoView(this);
    view_->setObjectName(QStringLiteral("VideoView"));
    bar_ = new PlayerControlBar(this);
    bar_->setObjectName(QStringLiteral("ControlBar"));
    statusLine_ = new PlayerStatusBar(this);
    statusLine_->setObjectName(QStringLiteral("StatusBar"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(view_, 1);
    column->addWidget(bar_);
    column->addWidget(statusLine_);

    ticker_ = new QTimer(this);
    ticker_->setInterval(250);
    connect(ticker_, &QTimer::timeout, this, &TGKitMSPlay::RefreshBars);
    connect(ticker_, &QTimer::timeout, this, &TGKitMSPlay::OpenFollowingWhenDue);

    connect(engine_, &PlayerEngine::frameReady, view_,
            [this](const VideoFrame& frame) { view_->SetFrame(ImageOf(frame), frame.Buffer()); });
    connect(engine_, &PlayerEngine::stateChanged, this, &TGKitMSPlay::EngineStateChanged);
    connect(engine_, &PlayerEngine::factsChanged, this, [this] {
        const auto& facts = engine_->Facts();
        view_->SetPictureSize(QSize(facts.width, facts.height), facts.pixelAspect);
        UpdateFrameSize();
        RefreshBars();
    });
    connect(view_, &VideoView::layoutChanged, this, &TGKitMSPlay::UpdateFrameSize);

    connect(engine_, &PlayerEngine::positionChanged, this, &TGKitMSPlay::RefreshBars);
    connect(engine_, &PlayerEngine::positionChanged, this, &TGKitMSPlay::positionJumped);
    connect(engine_, &PlayerEngine::factsChanged, this, &TGKitMSPlay::factsChanged);

    view_->OnClick = [this] {
        if (OnClick)
            OnClick(this);
    };
    connect(bar_, &PlayerControlBar::playPauseClicked, this, [this] {
        if (engine_->CurrentState() == PlayerEngine::State::Playing)
            Pause();
        else
            Play();
    });
    connect(bar_, &PlayerControlBar::stopClicked, this, [this] { Stop(); });
    connect(bar_, &PlayerControlBar::seekRequested, this, [this](qint64 ms) { engine_->SeekMs(ms); });
    // Volume and mute set from elsewhere (the desktop's media controls) show on the bar.
    connect(engine_, &PlayerEngine::volumeChanged, bar_,
            [this](double volume) { bar_->SetVolume(int(volume * 100 + 0.5)); });
    connect(engine_, &PlayerEngine::mutedChanged, bar_, [this](bool muted) { bar_->SetMuted(muted); });
    connect(bar_, &PlayerControlBar::volumeChanged, this, [this](int percent) { engine_->SetVolume(percent / 100.0); });
    connect(bar_, &PlayerControlBar::muteToggled, this, [this](bool muted) { engine_->SetMuted(muted); });

    statusLine_->SetState(QStringLiteral("停止"));
    RefreshBars();
}

TGKitMSPlay::~TGKitMSPlay() = default;

void TGKitMSPlay::SetFileName(const std::string& value)
{
    fileName_ = value;
    view_->SetSourceRect(QRect()); // a new source shows its whole picture
    errorText_.clear();
    pausedWhileOpening_ = false;
    shownAtOpen_ = view_->FramesShown();
    setAtOpen_ = view_->FramesSet();
    engine_->Open(value);
    MarkStartup("first source opened");
    const auto state = engine_->CurrentState();
    if (autoPlay_ && (state == PlayerEngine::State::Paused || state == PlayerEngine::State::Opening))
        engine_->Play();
    RefreshBars();
}

void TGKitMSPlay::SetControlBar(WordBool value)
{
    controlBar_ = value != 0;
    bar_->setVisible(controlBar_);
}

void TGKitMSPlay::SetViewStyle(int value)
{
    if (value != 0 && value != 1)
        return;
    viewStyle_ = value;
    view_->SetFitToWindow(value == 1);
}

void TGKitMSPlay::SetStatusBar(WordBool value)
{
    statusBar_ = value != 0;
    statusLine_->setVisible(statusBar_);
}

void TGKitMSPlay::SetAutoPlay(WordBool value)
{
    autoPlay_ = value != 0;
}

std::int16_t TGKitMSPlay::MovieWidth() const
{
    return ClampToShort(engine_->Facts().width);
}

std::int16_t TGKitMSPlay::MovieHeight() const
{
    return ClampToShort(engine_->Facts().height);
}

int TGKitMSPlay::MediaFormat() const
{
    const auto& facts = engine_->Facts();
    const auto state = engine_->CurrentState();
    if (state == PlayerEngine::State::Closed || state == PlayerEngine::State::Failed)
        return NoMedia;
    if (facts.hasVideo || facts.width > 0)
        return facts.isAvi ? AviMovie : OtherMovie;
    if (facts.hasAudio)
        return SoundOnly;
    return NoMedia;
}

void TGKitMSPlay::SetSpeed(double value)
{
    if (!std::isfinite(value) || value < 0.25 || value > 4.0)
        return;
    speed_ = value;
    engine_->SetRate(value);
}

bool TGKitMSPlay::Play()
{
    pausedWhileOpening_ = false;
    return engine_->Play();
}

bool TGKitMSPlay::Stop()
{
    pausedWhileOpening_ = false;
    return engine_->Stop();
}

bool TGKitMSPlay::Pause()
{
    // A pause asked for while the source opens is news once the source has opened.
    pausedWhileOpening_ = engine_->CurrentState() == PlayerEngine::State::Opening;
    return engine_->Pause();
}

std::int32_t TGKitMSPlay::GetCurrentPos() const
{
    return std::int32_t(std::clamp<qint64>(engine_->PositionMs(), 0, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TGKitMSPlay::DurationMs() const
{
    return std::int32_t(std::clamp<qint64>(engine_->DurationMs(), -1, std::numeric_limits<std::int32_t>::max()));
}

bool TGKitMSPlay::Forward(std::int16_t step)
{
    if (!engine_->Facts().known)
        return false;
    return engine_->SeekMs(engine_->PositionMs() + qint64(step) * 1000);
}

bool TGKitMSPlay::Reverse(std::int16_t step)
{
    if (!engine_->Facts().known)
        return false;
    return engine_->SeekMs(engine_->PositionMs() - qint64(step) * 1000);
}

bool TGKitMSPlay::SetSourceRect(std::int16_t x, std::int16_t y, std::int16_t width, std::int16_t height)
{
    // Clamping to the picture happens where the picture is known: at painting.
    view_->SetSourceRect(QRect(x, y, std::max<int>(0, width), std::max<int>(0, height)));
    return true;
}

double TGKitMSPlay::PlayingSpeed() const
{
    return engine_->PipelineRate();
}

bool TGKitMSPlay::CopyToClipboard(std::int32_t position)
{
    Q_UNUSED(position); // the frame shown is the frame at the position just read
    if (engine_->CurrentFrame().IsNull())
        return false;
    // A copy still waiting for its picture would land after this one.
    delete pendingCopy_.data();
    // Motion JPEG: the compressed picture, decoded whole when it is pasted.
    if (JpegFrameData* data = JpegFrameData::Make(engine_->CurrentJpeg())) {
        QApplication::clipboard()->setMimeData(data);
        return true;
    }
    // The picture at its own size, as a copy of its own: the clipboard may keep it long
    // after the decoder's buffer is reused.
    const QImage shown = ImageOf(engine_->CurrentFrame()).copy();
    if (shown.isNull())
        return false;
    // A frame shown smaller is decoded again whole, on the clipboard when it is done.
    if (shown.size() != QSize(MovieWidth(), MovieHeight())) {
        if (std::shared_future<WholePicture> whole = engine_->FetchFullFrame(); whole.valid()) {
            pendingCopy_ = new PendingCopy(std::move(whole), shown, this);
            return true;
        }
    }
    QApplication::clipboard()->setImage(shown);
    return true;
}

void TGKitMSPlay::UpdateFrameSize()
{
    // Frames come scaled to what the view shows in device pixels, so that drawing
    // needs no scaling: the whole picture at the scale that makes the shown part fill
    // its place. Never larger than the picture itself (own size: no scaling at all).
    const QSize picture = view_->PictureSize();
    const QRect src = view_->EffectiveSourceRect();
    const QSizeF target = QSizeF(view_->TargetRect().size()) * view_->devicePixelRatioF();
    if (picture.isEmpty() || src.isEmpty() || target.isEmpty()) {
        engine_->SetFrameSize(QSize());
        return;
    }
    const double par = view_->PixelAspect();
    const QSizeF shown(picture.width() * std::max(par, 1.0), picture.height() * std::max(1.0 / par, 1.0));
    QSizeF want(target.width() * picture.width() / src.width(), target.height() * picture.height() / src.height());
    if (want.width() >= shown.width() - 1 || want.height() >= shown.height() - 1) {
        engine_->SetFrameSize(QSize());
        return;
    }
    // Even sizes keep the decoder's subsampled formats exact.
    const auto even = [](double v) { return std::max(2, int(std::lround(v / 2.0)) * 2); };
    engine_->SetFrameSize(QSize(even(want.width()), even(want.height())));
}

void TGKitMSPlay::SetNetworkTimeoutMs(int ms)
{
    engine_->SetNetworkTimeoutMs(std::max(100, ms));
}

void TGKitMSPlay::EngineStateChanged()
{
    switch (engine_->CurrentState()) {
    case PlayerEngine::State::Playing:
        Report(Playing, 0);
        break;
    case PlayerEngine::State::Paused:
        // Opening leaves the source paused until AutoPlay or Play starts it; that pause
        // is no news for the caller.
        if (status_ != Stopped || engine_->Generation() == 0 || !autoPlay_ || pausedWhileOpening_)
            Report(Paused, 0);
        pausedWhileOpening_ = false;
        break;
    case PlayerEngine::State::Stopped:
    case PlayerEngine::State::Closed:
        Report(Stopped, 0);
        break;
    case PlayerEngine::State::Ended:
        // How many of the source's frames reached the screen: a figure beside the CPU
        // a source costs is honest only if no frame was dropped to save it.
        qCDebug(lcPlayer, "source ended: %d frames shown of %d delivered", view_->FramesShown() - shownAtOpen_,
                view_->FramesSet() - setAtOpen_);
        // What follows is asked once more as the list stands at the end: a pipeline that
        // went on into an entry no longer wanted is stopped before it is heard.
        if (OnFollowing && !engine_->Following().empty())
            engine_->OpenFollowing(OnFollowing(this), autoPlay_);
        Report(Ended, 0);
        break;
    case PlayerEngine::State::Failed:
        errorText_ = ReasonFor(engine_->FailureCode());
        Report(Stopped, engine_->FailureCode());
        break;
    case PlayerEngine::State::Opening:
        break;
    }
    RefreshTicker();
    RefreshBars();
}

void TGKitMSPlay::Report(std::int16_t status, std::int32_t detail)
{
    status_ = status;
    detail_ = detail;
    const quint64 generation = engine_->Generation();
    // Delivered from the event loop; news of a source that was replaced meanwhile is dropped.
    QMetaObject::invokeMethod(
        this,
        [this, status, detail, generation] {
            if (generation != engine_->Generation())
                return;
            if (OnNotify)
                OnNotify(this, status, detail);
            emit statusNotified(status, detail);
        },
        Qt::QueuedConnection);
}

void TGKitMSPlay::OpenFollowingWhenDue()
{
    // Asked all along: a sound played on into must be known before the current one has
    // been read; the engine opens anything else only in the last seconds.
    if (OnFollowing && engine_->CurrentState() == PlayerEngine::State::Playing)
        engine_->OpenFollowing(OnFollowing(this), autoPlay_);
}

void TGKitMSPlay::RefreshTicker()
{
    if (engine_->CurrentState() == PlayerEngine::State::Playing)
        ticker_->start();
    else
        ticker_->stop();
}

void TGKitMSPlay::RefreshBars()
{
    const qint64 pos = engine_->PositionMs();
    const qint64 dur = engine_->DurationMs();
    bar_->SetPlaying(engine_->CurrentState() == PlayerEngine::State::Playing);
    bar_->SetPosition(pos, dur);
    statusLine_->SetPosition(pos, dur);
    QString text;
    switch (engine_->CurrentState()) {
    case PlayerEngine::State::Closed:
        text = QStringLiteral("停止");
        break;
    case PlayerEngine::State::Opening:
        text = QStringLiteral("接続中...");
        break;
    case PlayerEngine::State::Paused:
        text = QStringLiteral("一時停止");
        break;
    case PlayerEngine::State::Playing:
        text = QStringLiteral("再生中");
        break;
    case PlayerEngine::State::Stopped:
        text = QStringLiteral("停止");
        break;
    case PlayerEngine::State::Ended:
        text = QStringLiteral("終了");
        break;
    case PlayerEngine::State::Failed:
        text = QStringLiteral("エラー: ") + errorText_;
        break;
    }
    // Part of the source plays: which part does not is said beside the state.
    const int undecoded = engine_->CurrentState() == PlayerEngine::State::Failed ? 0 : engine_->Facts().undecoded;
    if (undecoded & PlayerEngine::UndecodedPicture)
        text += QStringLiteral(" - 映像の形式は再生できません");
    if (undecoded & PlayerEngine::UndecodedSound)
        text += QStringLiteral(" - 音声の形式は再生できません");
    statusLine_->SetState(text);
}

double TGKitMSPlay::Volume() const
{
    return engine_->Volume();
}

void TGKitMSPlay::SetVolume(double value)
{
    engine_->SetVolume(value);
}

bool TGKitMSPlay::SeekToMs(qint64 positionMs)
{
    return engine_->SeekMs(positionMs);
}

bool TGKitMSPlay::Muted() const
{
    return engine_->Muted();
}

void TGKitMSPlay::SetMuted(bool muted)
{
    engine_->SetMuted(muted);
}

quint64 TGKitMSPlay::SourceSerial() const
{
    return engine_->Generation();
}

} // namespace kino
