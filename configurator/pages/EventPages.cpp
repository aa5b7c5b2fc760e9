#include "pages/EventPages.h"

#include "core/PageLayout.h"

#include "pages/Pictures.h"

namespace {

// Sensor n Opened and Closed for n = 1..4, then egress inputs 1..4.
const std::vector<RowIds> kSensorIds{
    {1268, 1327, 1270, 1333, 1272, 1274, 1305},
    {1275, 1330, 1276, 1336, 1277, 1278, 1308},
    {1279, 1339, 1280, 1352, 1281, 1282, 1311},
    {1283, 1342, 1284, 1354, 1285, 1286, 1313},
    {1287, 1344, 1288, 1356, 1289, 1290, 1315},
    {1291, 1346, 1292, 1357, 1293, 1294, 1317},
    {1295, 1348, 1296, 1359, 1297, 1298, 1320},
    {1299, 1350, 1300, 1361, 1301, 1303, 1323},
};
const std::vector<int> kSensorRowY{38, 52, 75, 88, 113, 130, 152, 165};
const GridSpec kSensorGrid{
    {51, 97, 138, 183, 224, 274, 327},
    {43, 34, 43, 34, 43, 43, 16},
    /*frameTop*/ 11, /*headerTop*/ 13, /*subHeaderTop*/ 25, /*hintTop*/ 184,
};

const std::vector<RowIds> kEgressIds{
    {1307, 1358, 1312, 1364, 1314, 1316, 1310},
    {1319, 1360, 1322, 1365, 1325, 1328, 1351},
    {1331, 1362, 1334, 1366, 1337, 1340, 1353},
    {1343, 1363, 1345, 1367, 1347, 1349, 1355},
};
const std::vector<int> kEgressRowY{49, 71, 93, 115};
const GridSpec kEgressGrid{
    {38, 87, 129, 179, 222, 274, 330},
    {46, 37, 46, 37, 46, 46, 16},
    /*frameTop*/ 22, /*headerTop*/ 24, /*subHeaderTop*/ 36, /*hintTop*/ 136,
};

} // namespace

CRK40SensPropPage::CRK40SensPropPage(CRK40TKPropPage& reader1, QWidget* parent)
    : CRowPage(kDialogId, &reader1, parent)
{
    setTemplateSize(364, 197);
    addPicture(pictures::kDoorContact, 2, 2, 46, 32);
    for (int pair = 0; pair < 4; ++pair) {
        const int opened = kSensorRowY[static_cast<std::size_t>(2 * pair)];
        const int closed = kSensorRowY[static_cast<std::size_t>(2 * pair + 1)];
        // The sensor's number spans its two rows.
        addPicture(pictures::kDigit1 + pair, 3, opened - 2, 16, closed - opened + 16);
        addLabel(rowtext::kRowLabel + 2 * pair, 20, opened, 29, 12);
        addLabel(rowtext::kRowLabel + 2 * pair + 1, 20, closed, 29, 12);
    }
    // The sensor's number is a picture: the names carry it as a digit.
    QStringList captions;
    for (int row = 0; row < 8; ++row)
        captions << QStringLiteral("%1, %2").arg(row / 2 + 1).arg(text(rowtext::kRowLabel + row));
    buildGrid(kSensorGrid, rowsOf(pagelayout::kSensors, kSensorIds), kSensorRowY, captions);
    LoadFields();
}

CRK40EgressPropPage::CRK40EgressPropPage(CRK40TKPropPage& reader1, QWidget* parent)
    : CRowPage(kDialogId, &reader1, parent)
{
    setTemplateSize(381, 149);
    addPicture(pictures::kExitButton, 3, 2, 32, 40);
    for (int i = 0; i < 4; ++i)
        addPicture(pictures::kDigit1 + i, 12, kEgressRowY[static_cast<std::size_t>(i)] - 4, 16, 20);
    buildGrid(kEgressGrid, rowsOf(pagelayout::kEgress, kEgressIds), kEgressRowY,
              {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")});
    LoadFields();
}
