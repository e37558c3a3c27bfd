#include "player/PlayerBars.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace kino {

QString FormatTime(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("--:--");
    const qint64 total = ms / 1000;
    const qint64 h = total / 3600, m = (total / 60) % 60, s = total % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

namespace {

QToolButton* MakeButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& tip)
{
    auto* b = new QToolButton(parent);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setIconSize(QSize(14, 14));
    b->setFixedSize(22, 22);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

// A click on the groove jumps straight there, as people expect of a seek bar.
class JumpSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        if (!handle.contains(event->position().toPoint()) && maximum() > minimum()) {
            const int span = std::max(1, width() - handle.width());
            const int x = int(event->position().x()) - handle.width() / 2;
            setSliderPosition(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span));
            triggerAction(QAbstractSlider::SliderMove);
            event->accept();
            return;
        }
        QSlider::mousePressEvent(event);
    }
};

} // namespace

PlayerControlBar::PlayerControlBar(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(2);

    play_ = MakeButton(this, QStyle::SP_MediaPlay, QStringLiteral("再生"));
    stop_ = MakeButton(this, QStyle::SP_MediaStop, QStringLiteral("停止"));
    seek_ = new JumpSlider(Qt::Horizontal, this);
    seek_->setObjectName(QStringLiteral("SeekBar"));
    seek_->setRange(0, 0);
    seek_->setFocusPolicy(Qt::NoFocus);
    seek_->setToolTip(QStringLiteral("再生位置"));
    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("TimeLabel"));
    mute_ = MakeButton(this, QStyle::SP_MediaVolume, QStringLiteral("消音"));
    mute_->setCheckable(true);
    volume_ = new QSlider(Qt::Horizontal, this);
    volume_->setObjectName(QStringLiteral("VolumeBar"));
    volume_->setRange(0, 100);
    volume_->setValue(100);
    volume_->setFixedWidth(44);
    volume_->setFocusPolicy(Qt::NoFocus);
    volume_->setToolTip(QStringLiteral("音量"));

    row->addWidget(play_);
    row->addWidget(stop_);
    row->addWidget(seek_, 1);
    row->addWidget(time_);
    row->addWidget(mute_);
    row->addWidget(volume_);
    UpdateTimeLabel(0);

    connect(play_, &QToolButton::clicked, this, &PlayerControlBar::playPauseClicked);
    connect(stop_, &QToolButton::clicked, this, &PlayerControlBar::stopClicked);
    connect(seek_, &QSlider::sliderMoved, this, [this](int v) { UpdateTimeLabel(v); });
    connect(seek_, &QSlider::sliderReleased, this, [this] { emit seekRequested(seek_->value()); });
    connect(seek_, &QSlider::actionTriggered, this, [this](int action) {
        // Clicks on the groove and page steps arrive as actions; a drag ends with
        // sliderReleased, so the medium is not sought at every pixel of it.
        Q_UNUSED(action);
        if (!seek_->isSliderDown())
            emit seekRequested(seek_->sliderPosition());
    });
    connect(volume_, &QSlider::valueChanged, this, &PlayerControlBar::volumeChanged);
    connect(mute_, &QToolButton::toggled, this, [this](bool on) {
        mute_->setIcon(style()->standardIcon(on ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
        emit muteToggled(on);
    });
}

void PlayerControlBar::SetPlaying(bool playing)
{
    if (playing == playing_)
        return;
    playing_ = playing;
    play_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    play_->setToolTip(playing ? QStringLiteral("一時停止") : QStringLiteral("再生"));
}

bool PlayerControlBar::IsDragging() const
{
    return seek_->isSliderDown();
}

void PlayerControlBar::SetPosition(qint64 positionMs, qint64 durationMs)
{
    durationMs_ = durationMs;
    if (IsDragging())
        return;
    const int max = durationMs > 0 ? int(std::min<qint64>(durationMs, INT_MAX)) : 0;
    QSignalBlocker block(seek_);
    if (seek_->maximum() != max)
        seek_->setRange(0, max);
    seek_->setValue(int(std::clamp<qint64>(positionMs, 0, max)));
    UpdateTimeLabel(positionMs);
}

void PlayerControlBar::UpdateTimeLabel(qint64 positionMs)
{
    time_->setText(FormatTime(durationMs_ < 0 && positionMs <= 0 ? 0 : positionMs) + QStringLiteral("/") +
                   FormatTime(durationMs_ < 0 ? 0 : durationMs_));
}

void PlayerControlBar::SetVolume(int percent)
{
    QSignalBlocker block(volume_);
    volume_->setValue(std::clamp(percent, 0, 100));
}

void PlayerControlBar::SetMuted(bool muted)
{
    mute_->setChecked(muted);
}

PlayerStatusBar::PlayerStatusBar(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 1, 4, 1);
    row->setSpacing(4);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("StateLabel"));
    state_->setFrameShape(QFrame::Panel);
    state_->setFrameShadow(QFrame::Sunken);
    state_->setMinimumWidth(10);
    state_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    position_ = new QLabel(this);
    position_->setObjectName(QStringLiteral("PositionLabel"));
    position_->setFrameShape(QFrame::Panel);
    position_->setFrameShadow(QFrame::Sunken);
    row->addWidget(state_, 1);
    row->addWidget(position_);
    SetPosition(0, -1);
}

void PlayerStatusBar::SetState(const QString& text)
{
    state_->setText(text);
    state_->setToolTip(text);
}

void PlayerStatusBar::SetPosition(qint64 positionMs, qint64 durationMs)
{
    position_->setText(FormatTime(positionMs < 0 ? 0 : positionMs) + QStringLiteral(" / ") +
                       FormatTime(durationMs < 0 ? 0 : durationMs));
}

QString PlayerStatusBar::StateText() const { return state_->text(); }
QString PlayerStatusBar::PositionText() const { return position_->text(); }

} // namespace kino
