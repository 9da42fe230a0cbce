#include "monitor/monitorwindow.h"

#include "monitor/exchangefilter.h"
#include "monitor/exchangemodel.h"
#include "monitor/exchangeview.h"
#include "monitor/faultswitches.h"
#include "monitor/profilepanel.h"
#include "monitor/sendbar.h"
#include "monitor/valuestable.h"
#include "session/commsession.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
constexpr int kRefreshMs = 100;
} // namespace

MonitorWindow::MonitorWindow(CommSession &session, int rowLimit, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_session(session)
    , m_view(session)
    , m_requests(session)
{
    setObjectName(QStringLiteral("frmMonitor"));
    setWindowTitle(QStringLiteral("ラインモニタ - Kalo_232Cシミュレータ"));
    m_exchanges = new ExchangeModel(rowLimit, this);
    m_filter = new ExchangeFilter(this);
    m_filter->setSourceModel(m_exchanges);
    buildLayout();
    connectRequests();

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &MonitorWindow::refreshNow);
    connect(&m_session, &CommSession::lineEvent, this, &MonitorWindow::onLineEvent);
    connect(&m_session, &CommSession::instrumentLinesChanged, m_profile,
        &ProfilePanel::showInstrumentLines);
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, &MonitorWindow::showCounts);
    connect(m_filter, &QAbstractItemModel::rowsRemoved, this, &MonitorWindow::showCounts);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &MonitorWindow::showCounts);
    refreshNow();
    showCounts();
    resize(1000, 560);
}

MonitorWindow::~MonitorWindow() = default;

void MonitorWindow::bringForward()
{
    refreshNow();
    show();
    raise();
    activateWindow();
}

QWidget *MonitorWindow::buildFilterRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_filterText = new QLineEdit(row);
    m_filterText->setObjectName(QStringLiteral("txtFilter"));
    m_filterText->setPlaceholderText(QStringLiteral("16進・テキスト・規則・障害で絞り込み"));
    m_filterText->setClearButtonEnabled(true);
    m_direction = new QComboBox(row);
    m_direction->setObjectName(QStringLiteral("cboDirection"));
    m_direction->addItems(
        { QStringLiteral("すべて"), QStringLiteral("受信"), QStringLiteral("送信") });
    m_counts = new QLabel(row);
    m_counts->setObjectName(QStringLiteral("lblRows"));
    layout->addWidget(new QLabel(QStringLiteral("絞り込み"), row));
    layout->addWidget(m_filterText, 1);
    layout->addWidget(m_direction);
    layout->addWidget(m_counts);
    connect(m_filterText, &QLineEdit::textChanged, this, &MonitorWindow::applyFilter);
    connect(m_direction, &QComboBox::currentIndexChanged, this, &MonitorWindow::applyFilter);
    return row;
}

void MonitorWindow::buildLayout()
{
    m_table = new ExchangeView(this);
    m_table->setObjectName(QStringLiteral("tblExchanges"));
    m_table->setModel(m_filter);
    const struct
    {
        ExchangeModel::Column column;
        int width;
    } widths[] = { { ExchangeModel::Time, 88 }, { ExchangeModel::Direction, 40 },
        { ExchangeModel::Hex, 150 }, { ExchangeModel::Text, 150 }, { ExchangeModel::Rule, 64 },
        { ExchangeModel::Delay, 56 } };
    for (const auto &w : widths)
        m_table->horizontalHeader()->resizeSection(w.column, w.width);

    m_profile = new ProfilePanel(m_view, this);
    m_profile->setObjectName(QStringLiteral("pnlProfile"));
    m_values = new ValuesTable(this);
    m_values->setObjectName(QStringLiteral("tblValues"));
    m_faults = new FaultSwitches(this);
    m_faults->setObjectName(QStringLiteral("tblFaults"));
    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabMonitor"));
    tabs->addTab(m_values, QStringLiteral("値"));
    tabs->addTab(m_faults, QStringLiteral("障害"));

    auto *side = new QSplitter(Qt::Vertical, this);
    side->addWidget(m_profile);
    side->addWidget(tabs);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("splMonitor"));
    split->addWidget(m_table);
    split->addWidget(side);
    split->setStretchFactor(0, 1);
    split->setSizes({ 660, 340 });

    auto *send = new SendBar(this);
    send->setObjectName(QStringLiteral("barSend"));
    connect(send, &SendBar::sendAsked, this,
        [this](const QString &bytes, bool asHex) { tellOutcome(m_requests.send(bytes, asHex)); });
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblMonitorStatus"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildFilterRow());
    layout->addWidget(split, 1);
    layout->addWidget(send);
    layout->addWidget(m_status);
}

void MonitorWindow::connectRequests()
{
    connect(m_values, &ValuesTable::valueEdited, this,
        [this](const QString &name, const QString &text, bool asNumber) {
            tellOutcome(m_requests.setValue(name, text, asNumber));
        });
    connect(m_faults, &FaultSwitches::faultSwitchAsked, this,
        [this](const QString &rule, const QString &fault, bool enabled) {
            tellOutcome(m_requests.switchFault(rule, fault, enabled));
        });
    connect(m_profile, &ProfilePanel::lineSwitchAsked, this, [this](const QString &line, bool up) {
        tellOutcome(m_requests.setLine(line, up));
        m_profile->showInstrumentLines(m_view.instrumentLines());
    });
}

void MonitorWindow::tellOutcome(const QString &refusal)
{
    m_status->setText(refusal);
    refreshNow();
}

void MonitorWindow::onLineEvent(const LineEvent &event)
{
    m_exchanges->take(event);
    m_profile->take(event);
    switch (event.kind) {
    case LineEvent::Kind::Start:
    case LineEvent::Kind::Load:
    case LineEvent::Kind::Stop:
        refreshNow();
        return;
    default:
        // Hidden, the tables catch up when the window is brought forward.
        if (isVisible() && !m_refresh.isActive())
            m_refresh.start();
        return;
    }
}

void MonitorWindow::refreshNow()
{
    m_refresh.stop();
    m_values->showValues(m_view.values());
    m_faults->showFaults(m_view.faults());
}

void MonitorWindow::applyFilter()
{
    m_filter->setText(m_filterText->text());
    m_filter->setDirection(ExchangeFilter::Direction(m_direction->currentIndex()));
    showCounts();
}

void MonitorWindow::showCounts()
{
    m_counts->setText(QStringLiteral("%1 / %2 行 (上限 %3)")
                          .arg(m_filter->rowCount())
                          .arg(m_exchanges->rowCount())
                          .arg(m_exchanges->limit()));
}
