#include "pages/CRK40TKPropPage.h"

#include "core/PageLayout.h"
#include "core/StringIds.h"
#include "pages/Pictures.h"
#include "platform/component/Registry.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

namespace {

// Rows T, TA, TB, TC of each reader: the identifiers of relay 1
// Action, relay 1 If, relay 2 Action, relay 2 If, relay 3 Action, relay 4
// Action and the registration box.
const std::array<std::vector<RowIds>, 4> kReaderIds{{
    {{1039, 1040, 1041, 1042, 1043, 1044, 1045},
      {1046, 1047, 1048, 1049, 1050, 1051, 1052},
      {1053, 1062, 1054, 1063, 1055, 1056, 1057},
      {1058, 1064, 1059, 1065, 1060, 1061, 1066}},
    {{1067, 1083, 1068, 1084, 1069, 1070, 1091},
      {1071, 1085, 1072, 1086, 1073, 1074, 1092},
      {1075, 1087, 1076, 1088, 1077, 1078, 1093},
      {1079, 1089, 1080, 1090, 1081, 1082, 1094}},
    {{1095, 1111, 1096, 1112, 1097, 1098, 1119},
      {1099, 1113, 1100, 1114, 1101, 1102, 1120},
      {1103, 1115, 1104, 1116, 1105, 1106, 1121},
      {1107, 1117, 1108, 1118, 1109, 1110, 1122}},
    {{1235, 1302, 1236, 1321, 1237, 1238, 1267},
      {1239, 1304, 1240, 1332, 1241, 1242, 1269},
      {1243, 1306, 1244, 1324, 1245, 1246, 1271},
      {1247, 1309, 1248, 1335, 1249, 1250, 1273}},
}};

const std::vector<int> kRowY{49, 63, 77, 91};

const GridSpec kReaderGrid{
    {38, 87, 129, 179, 222, 274, 330},
    {46, 37, 46, 37, 46, 46, 16},
    /*frameTop*/ 22, /*headerTop*/ 24, /*subHeaderTop*/ 36, /*hintTop*/ 110,
};

constexpr int kTemplateWidth = 364;
constexpr int kTemplateHeight = 126;
constexpr int kReader1Height = 186;

constexpr int kPortLabelId = 2041;
constexpr int kRemoteCaptionId = 1234;
constexpr int kRemoteIconId = 1233;

CRK40TKPropPage::ControlFactory& controlFactory()
{
    static CRK40TKPropPage::ControlFactory factory;
    return factory;
}

} // namespace

int CReaderPage::dialogIdOf(int reader)
{
    return reader >= 1 && reader <= 4 ? pagelayout::rowPages()[static_cast<std::size_t>(pagelayout::kReader1 + reader - 1)].dialogId : 0;
}

CReaderPage::CReaderPage(int reader, CRK40TKPropPage* reader1, QWidget* parent)
    : CRowPage(dialogIdOf(reader), reader1, parent), m_reader(reader)
{
    setTemplateSize(kTemplateWidth, reader == 1 ? kReader1Height : kTemplateHeight);
    addPicture(pictures::kTouchKeyReader, 4, 4, 30, 42);
    addPicture(pictures::kDigit1 + reader - 1, kReaderGrid.colX[kR1Action] + 13, 1, 20, 20);
    for (int i = 0; i < 4; ++i)
        addLabel(rowtext::kRowLabel + i, 6, kRowY[static_cast<std::size_t>(i)], 30, 12, Qt::AlignLeft | Qt::AlignVCenter);
    buildGrid(kReaderGrid, rowsOf(pagelayout::kReader1 + reader - 1, kReaderIds[static_cast<std::size_t>(reader - 1)]), kRowY);
}

// ---------------------------------------------------------------------------

void CRK40TKPropPage::setControlFactory(ControlFactory factory) { controlFactory() = std::move(factory); }

CRK40TKPropPage::MadeControl CRK40TKPropPage::makeControl()
{
    MadeControl made;
    if (const auto& factory = controlFactory()) {
        made.control = factory();
        if (!made.control)
            made.error = QStringLiteral("the control factory made no control");
        return made;
    }
    made.control = CRK40Comm::createRegistered(QString::fromLatin1(CRK40Comm::kProgId), &made.error);
    return made;
}

CRK40TKPropPage::CRK40TKPropPage(QWidget* parent) : CRK40TKPropPage(makeControl(), parent) {}

CRK40TKPropPage::CRK40TKPropPage(std::unique_ptr<component::IDispatchControl> control, QWidget* parent)
    : CRK40TKPropPage(MadeControl{std::move(control), {}}, parent)
{
}

CRK40TKPropPage::CRK40TKPropPage(MadeControl made, QWidget* parent)
    : CReaderPage(1, this, parent), m_comm(std::move(made.control)), m_controlError(made.error)
{
    m_comm.setFailureListener(
        [](const QString& text) { ui::prompter().message(nullptr, text, ui::Look::Stop); });
    if (!m_comm.isCreated()) {
        // The sheet tells the user (it cannot run without the image); the
        // page stays usable, its stores going nowhere.
        if (m_controlError.isEmpty())
            m_controlError = QStringLiteral("no control was given");
        qWarning("Reader 1 page without the communication control: %s", qPrintable(m_controlError));
    }
    buildTransferArea();

    // A transfer opens the port for its own exchanges only: no reception
    // thread, and no register file (starting Termset in a shared folder
    // opens or creates nothing there).
    m_comm.SetWorkOnLine(false);
    m_comm.SetAsciiFileName(QString());
    for (int a = image::kFirstWord; a <= image::kLastRowWord; ++a)
        m_comm.setWord(a, QStringLiteral("0000"));
    setPortText(resources::loadString(strid::kNotSelected));
    LoadFields();
}

CRK40TKPropPage::~CRK40TKPropPage()
{
    if (m_comm.isCreated())
        m_comm.DestroyTerminal();
    // The control's face must go before the control itself.
    delete m_face.data();
}

void CRK40TKPropPage::buildTransferArea()
{
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(units().rect(4, 124, kTemplateWidth - 8, 2));

    // The hosted control and the labels the transfers fill; none of them
    // is shown.
    if (auto* control = m_comm.control()) {
        m_face = control->createFace(this);
        if (m_face) {
            m_face->setObjectName(QString::number(kControlId));
            m_face->setGeometry(units().rect(8, 132, 28, 28));
            m_face->hide();
        }
    }
    addLabel(kPortLabelId, 44, 136, 40, 9)->hide();
    m_portBox = new QLineEdit(this);
    m_portBox->setObjectName(QString::number(kPortBoxId));
    m_portBox->setReadOnly(true);
    nameField(m_portBox, {text(kPortLabelId)});
    m_portBox->setGeometry(units().rect(86, 134, 60, 12));
    m_portBox->hide();
    addLabel(kRemoteCaptionId, 160, 136, 34, 9)->hide();
    m_remoteLabel = addLabel(kRemoteTextId, 196, 136, 130, 9);
    m_remoteLabel->hide();
    auto* icon = new QLabel(this);
    icon->setObjectName(QString::number(kRemoteIconId));
    icon->setGeometry(units().rect(334, 132, 20, 20));
    icon->hide();
}

void CRK40TKPropPage::setPortText(const QString& text)
{
    m_portText = text;
    if (m_portBox)
        m_portBox->setText(text);
}

QString CRK40TKPropPage::remoteText() const { return m_remoteLabel ? m_remoteLabel->text() : QString(); }

void CRK40TKPropPage::setRemoteText(const QString& text)
{
    if (m_remoteLabel)
        m_remoteLabel->setText(text);
}

// ---------------------------------------------------------------------------

CTK2PropPage::CTK2PropPage(CRK40TKPropPage& reader1, QWidget* parent) : CReaderPage(2, &reader1, parent) { LoadFields(); }
CTK3PropPage::CTK3PropPage(CRK40TKPropPage& reader1, QWidget* parent) : CReaderPage(3, &reader1, parent) { LoadFields(); }
CTK4PropPage::CTK4PropPage(CRK40TKPropPage& reader1, QWidget* parent) : CReaderPage(4, &reader1, parent) { LoadFields(); }
