#include "player/PlayerBars.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIconEngine>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
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
    const qint64 hours = total / 3600, minutes = (total / 60) % 60, seconds = total % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(seconds, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(seconds, 2, 10, QLatin1Char('0'));
}

namespace {

// The bar's own pictures, drawn at whatever size is asked in the text colour of
// buttons. The desktop's icon theme is not asked: reading a theme's index is the
// single longest step of building the window, several milliseconds before the first
// picture, for five small glyphs.
enum class Glyph { Play, Pause, Stop, Sound, Muted };

class GlyphIcon : public QIconEngine {
public:
    explicit GlyphIcon(Glyph glyph) : glyph_(glyph) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QApplication::palette();
        const QColor ink =
            palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0); // drawn on a 16 x 16 grid
        painter->setPen(Qt::NoPen);
        painter->setBrush(ink);
        switch (glyph_) {
        case Glyph::Play:
            painter->drawPolygon(QPolygonF({QPointF(4, 2), QPointF(14, 8), QPointF(4, 14)}));
            break;
        case Glyph::Pause:
            painter->drawRect(QRectF(3, 2, 3.5, 12));
            painter->drawRect(QRectF(9.5, 2, 3.5, 12));
            break;
        case Glyph::Stop:
            painter->drawRect(QRectF(3, 3, 10, 10));
            break;
        case Glyph::Sound:
        case Glyph::Muted: {
            QPainterPath speaker;
            speaker.addPolygon(QPolygonF(
                {QPointF(1, 6), QPointF(4, 6), QPointF(8, 2), QPointF(8, 14), QPointF(4, 10), QPointF(1, 10)}));
            painter->drawPath(speaker);
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap));
            if (glyph_ == Glyph::Sound) {
                painter->drawArc(QRectF(6, 5, 5, 6), -50 * 16, 100 * 16);
                painter->drawArc(QRectF(6, 2.5, 9, 11), -50 * 16, 100 * 16);
            } else {
                painter->drawLine(QPointF(10, 5.5), QPointF(15, 10.5));
                painter->drawLine(QPointF(15, 5.5), QPointF(10, 10.5));
            }
            break;
        }
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap picture(size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return picture;
    }

    QIconEngine* clone() const override { return new GlyphIcon(glyph_); }

private:
    Glyph glyph_;
};

QIcon IconOf(Glyph glyph)
{
    return QIcon(new GlyphIcon(glyph));
}

QToolButton* MakeButton(QWidget* parent, Glyph glyph, const QString& tip)
{
    auto* button = new QToolButton(parent);
    button->setIcon(IconOf(glyph));
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setIconSize(QSize(14, 14));
    button->setFixedSize(22, 22);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// A click on the groove jumps straight there, as people expect of a seek bar.
class JumpSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
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

    playButton_ = MakeButton(this, Glyph::Play, QStringLiteral("再生"));
    stopButton_ = MakeButton(this, Glyph::Stop, QStringLiteral("停止"));
    seekBar_ = new JumpSlider(Qt::Horizontal, this);
    seekBar_->setObjectName(QStringLiteral("SeekBar"));
    seekBar_->setRange(0, 0);
    seekBar_->setFocusPolicy(Qt::NoFocus);
    seekBar_->setToolTip(QStringLiteral("再生位置"));
    timeLabel_ = new QLabel(this);
    timeLabel_->setObjectName(QStringLiteral("TimeLabel"));
    muteButton_ = MakeButton(this, Glyph::Sound, QStringLiteral("消音"));
    muteButton_->setCheckable(true);
    volumeBar_ = new QSlider(Qt::Horizontal, this);
    volumeBar_->setObjectName(QStringLiteral("VolumeBar"));
    volumeBar_->setRange(0, 100);
    volumeBar_->setValue(100);
    volumeBar_->setFixedWidth(44);
    volumeBar_->setFocusPolicy(Qt::NoFocus);
    volumeBar_->setToolTip(QStringLiteral("音量"));

    row->addWidget(playButton_);
    row->addWidget(stopButton_);
    row->addWidget(seekBar_, 1);
    row->addWidget(timeLabel_);
    row->addWidget(muteButton_);
    row->addWidget(volumeBar_);
    UpdateTimeLabel(0);

    connect(playButton_, &QToolButton::clicked, this, &PlayerControlBar::playPauseClicked);
    connect(stopButton_, &QToolButton::clicked, this, &PlayerControlBar::stopClicked);
    connect(seekBar_, &QSlider::sliderMoved, this, [this](int value) { UpdateTimeLabel(value); });
    connect(seekBar_, &QSlider::sliderReleased, this, [this] { emit seekRequested(seekBar_->value()); });
    connect(seekBar_, &QSlider::actionTriggered, this, [this](int action) {
        // Clicks on the groove and page steps arrive as actions; a drag ends with
        // sliderReleased, so the medium is not sought at every pixel of it.
        Q_UNUSED(action);
        if (!seekBar_->isSliderDown())
            emit seekRequested(seekBar_->sliderPosition());
    });
    connect(volumeBar_, &QSlider::valueChanged, this, &PlayerControlBar::volumeChanged);
    connect(muteButton_, &QToolButton::toggled, this, [this](bool on) {
        muteButton_->setIcon(IconOf(on ? Glyph::Muted : Glyph::Sound));
        emit muteToggled(on);
    });
}

void PlayerControlBar::SetPlaying(bool playing)
{
    if (playing == playing_)
        return;
    playing_ = playing;
    playButton_->setIcon(IconOf(playing ? Glyph::Pause : Glyph::Play));
    playButton_->setToolTip(playing ? QStringLiteral("一時停止") : QStringLiteral("再生"));
}

bool PlayerControlBar::IsDragging() const
{
    return seekBar_->isSliderDown();
}

void PlayerControlBar::SetPosition(qint64 positionMs, qint64 durationMs)
{
    durationMs_ = durationMs;
    if (IsDragging())
        return;
    const int max = durationMs > 0 ? int(std::min<qint64>(durationMs, INT_MAX)) : 0;
    QSignalBlocker block(seekBar_);
    if (seekBar_->maximum() != max)
        seekBar_->setRange(0, max);
    seekBar_->setValue(int(std::clamp<qint64>(positionMs, 0, max)));
    UpdateTimeLabel(positionMs);
}

void PlayerControlBar::UpdateTimeLabel(qint64 positionMs)
{
    timeLabel_->setText(FormatTime(durationMs_ < 0 && positionMs <= 0 ? 0 : positionMs) + QStringLiteral("/") +
                        FormatTime(durationMs_ < 0 ? 0 : durationMs_));
}

void PlayerControlBar::SetVolume(int percent)
{
    QSignalBlocker block(volumeBar_);
    volumeBar_->setValue(std::clamp(percent, 0, 100));
}

void PlayerControlBar::SetMuted(bool muted)
{
    muteButton_->setChecked(muted);
}

PlayerStatusBar::PlayerStatusBar(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 1, 4, 1);
    row->setSpacing(4);
    stateLabel_ = new QLabel(this);
    stateLabel_->setObjectName(QStringLiteral("StateLabel"));
    stateLabel_->setFrameShape(QFrame::Panel);
    stateLabel_->setFrameShadow(QFrame::Sunken);
    stateLabel_->setMinimumWidth(10);
    stateLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    positionLabel_ = new QLabel(this);
    positionLabel_->setObjectName(QStringLiteral("PositionLabel"));
    positionLabel_->setFrameShape(QFrame::Panel);
    positionLabel_->setFrameShadow(QFrame::Sunken);
    row->addWidget(stateLabel_, 1);
    row->addWidget(positionLabel_);
    SetPosition(0, -1);
}

void PlayerStatusBar::SetState(const QString& text)
{
    stateLabel_->setText(text);
    stateLabel_->setToolTip(text);
}

void PlayerStatusBar::SetPosition(qint64 positionMs, qint64 durationMs)
{
    positionLabel_->setText(FormatTime(positionMs < 0 ? 0 : positionMs) + QStringLiteral(" / ") +
                            FormatTime(durationMs < 0 ? 0 : durationMs));
}

QString PlayerStatusBar::StateText() const
{
    return stateLabel_->text();
}
QString PlayerStatusBar::PositionText() const
{
    return positionLabel_->text();
}

} // namespace kino
