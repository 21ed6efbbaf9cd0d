#include "dialogs/sent_log_window.h"

#include "link/frame_trace.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>

using namespace chronavel;

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent)
    : QDialog(parent), queue_(std::make_shared<FrameLineQueue>(kMaxLines))
{
    Form2 = this;
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Отправленные данные...."));
    // Only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(1010, 181);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(0, 0, 1010, 181);
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setMaximumBlockCount(kMaxLines);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    RichEdit1->setFont(mono);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(QStringLiteral("Очистить все"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addAction(QStringLiteral("Скопировать все в буфер обмена"));
    N2->setObjectName(QStringLiteral("N2"));
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RichEdit1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu1->popup(RichEdit1->viewport()->mapToGlobal(at));
    });
    connect(N1, &QAction::triggered, this, &TForm2::N1Click);
    connect(N2, &QAction::triggered, this, &TForm2::N2Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TForm2::ShowQueuedLines);

    FormCreate();
}

TForm2::~TForm2()
{
    // After this no listener call is running or can start, so nothing posts
    // to this window any more.
    if (observer_ != 0)
        RemoveFrameObserver(observer_);
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::FormCreate() {}

void TForm2::N1Click()
{
    // Lines traced before the clear and not shown yet go with it.
    queue_->TakeAll();
    RichEdit1->clear();
}

void TForm2::N2Click()
{
    RichEdit1->selectAll();
    RichEdit1->copy();
}

void TForm2::SetCapture(bool on)
{
    capture_ = on;
    UpdateListening();
}

QStringList TForm2::Lines() const
{
    QStringList out;
    const QTextDocument* doc = RichEdit1->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        out.push_back(b.text());
    if (out.size() == 1 && out.front().isEmpty())
        out.clear();
    return out;
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    UpdateListening();
}

void TForm2::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    UpdateListening();
}

void TForm2::UpdateListening()
{
    const bool want = capture_ || isVisible();
    if (want && observer_ == 0) {
        // Runs on the tracing thread with the port held: format, queue, and
        // at most post a wake; never wait for this window.
        std::shared_ptr<FrameLineQueue> queue = queue_;
        observer_ = AddFrameObserver([this, queue](const FrameEvent& e) {
            if (queue->Push(FormatFrameLine(e)))
                QMetaObject::invokeMethod(this, &TForm2::WakeFromTrace, Qt::QueuedConnection);
        });
    } else if (!want && observer_ != 0) {
        RemoveFrameObserver(observer_);
        observer_ = 0;
        ShowQueuedLines();
    }
}

void TForm2::WakeFromTrace()
{
    if (!Timer1->isActive())
        Timer1->start();
}

void TForm2::ShowQueuedLines()
{
    const std::vector<std::string> lines = queue_->TakeAll();
    if (lines.empty())
        return;
    QString text;
    for (const std::string& line : lines) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QString::fromStdString(line);
    }
    RichEdit1->appendPlainText(text);
}
