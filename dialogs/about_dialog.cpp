#include "dialogs/about_dialog.h"

#include "app/documentation.h"
#include "app/look_qt.h"
#include "version.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QMouseEvent>

namespace chronavel {

TfrmAbout* frmAbout = nullptr;

namespace {

constexpr int kClientWidth = 243;
constexpr int kClientHeight = 127;

} // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent)
{
    frmAbout = this;
    setObjectName("frmAbout");
    setWindowTitle("О программе");
    setModal(true);
    // Fixed size, only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(DialogFont());

    Label1 =
        new QLabel("Программа синхронизации времени электронных часов серии \"Ксилон\" ", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(0, 0, kClientWidth, 33);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    Label1->setWordWrap(true);

    Label4 = new QLabel("Chronavel v " CHRONAVEL_VERSION_SHORT, this);
    Label4->setObjectName("Label4");
    Label4->setGeometry(0, 33, kClientWidth, 20);
    Label4->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    Label2 = new QLabel("Разработчик: команда Chronavel", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(0, 53, kClientWidth, 19);
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    Label3 = new QLabel("Документация программы (README)", this);
    Label3->setObjectName("Label3");
    Label3->setGeometry(0, 72, 241, 13);
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setFont(DialogFont(true));
    QPalette link = Label3->palette();
    link.setColor(QPalette::WindowText, Qt::blue);
    Label3->setPalette(link);
    Label3->installEventFilter(this);

    Button1 = new QPushButton("Ок", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(88, 96, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    const std::string doc = DocumentationPath();
    SetAddress(doc.empty() ? QUrl() : QUrl::fromLocalFile(QString::fromStdString(doc)));
}

TfrmAbout::~TfrmAbout()
{
    if (frmAbout == this)
        frmAbout = nullptr;
}

void TfrmAbout::SetAddress(const QUrl& address)
{
    address_ = address;
    Label3->setToolTip(address.isEmpty() ? QString("Документация не найдена") : address.toString());
}

void TfrmAbout::Label3Click()
{
    // Opened by the desktop's own handler; whatever it answers, the box stays.
    if (!address_.isEmpty())
        QDesktopServices::openUrl(address_);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label3Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace chronavel
