#include "app/Wizard.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShortcut>

#include "app/Icons.h"
#include "app/Pages.h"
#include "app/Prompts.h"
#include "app/WelcomePage.h"
#include "app/WorkerBridge.h"

CWizard::CWizard(QWidget* parent) : QWizard(parent), m_workers(std::make_unique<WorkerRunner>()) {
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, false);
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setPixmap(QWizard::LogoPixmap, AppIcon().pixmap(48, 48));
    for (const auto& info : kPages) {
        CWizardPropPage* page = CreatePage(info.id);
        page->Attach(this, &m_state);
        setPage(info.id, page);
    }
    setStartId(kWelcome);
    connect(this, &QWizard::currentIdChanged, this, &CWizard::OnPageChanged);
    // F1: the user guide, at the section about the page shown.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this,
            [this] { OpenUserGuide(this, GuideSectionFor(currentId())); });
    OnPageChanged(kWelcome);
    resize(720, 520);
    // Never larger than the screen (at a scale factor of 2, 720 x 520 may not fit).
    if (QScreen* screen = QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableGeometry().size()));
}

CWizard::~CWizard() {
    // Workers read the state and the pages' nodes: stop them before anything goes away.
    m_workers->RequestStop();
    m_workers->WaitPumping();
}

CWizardPropPage* CWizard::Page(int id) const {
    return static_cast<CWizardPropPage*>(page(id));
}

WorkerRunner& CWizard::Workers() {
    return *m_workers;
}

namespace {
// The header's title and subtitle: Arial 20 px, and bold Tahoma 12 px.
void StyleHeader(QWizard& wizard, const QWizardPage& page) {
    for (QLabel* label : wizard.findChildren<QLabel*>()) {
        bool onPage = false;
        for (QWidget* w = label; w && !onPage; w = w->parentWidget())
            onPage = qobject_cast<QWizardPage*>(w);
        if (onPage) continue;
        if (label->text() == page.title()) {
            QFont font(QStringLiteral("Arial"));
            font.setPixelSize(20);
            label->setFont(font);
        } else if (label->text() == page.subTitle()) {
            QFont font(QStringLiteral("Tahoma"));
            font.setPixelSize(12);
            font.setBold(true);
            label->setFont(font);
        }
    }
}
}  // namespace

void CWizard::OnPageChanged(int id) {
    if (id < 0) return;
    setWindowTitle(QString::fromUtf8(InfoFor(id).caption));
    StyleHeader(*this, *page(id));
    if (auto* p = Page(id)) {
        p->OnSetActive();
        p->ApplyButtons();
    }
}

bool CWizard::ConfirmCancel() {
    return Prompts::Get().confirmCancel(this);
}

void CWizard::reject() {
    if (!ConfirmCancel()) return;
    m_workers->RequestStop();
    QWizard::reject();
}

void CWizard::StartWithArchive(const QString& path) {
    // Called before show(), when the wizard has no current page yet: start it first, or
    // next() has nothing to go on from (show() keeps a wizard that was started).
    if (currentId() == -1) restart();
    static_cast<CPageWelcome*>(Page(kWelcome))->SelectMode(kRestoreChooseSource);
    static_cast<CPageRestoreChooseSource*>(Page(kRestoreChooseSource))->SetPath(path);
    next();
}
