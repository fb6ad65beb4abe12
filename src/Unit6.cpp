#include "Unit6.h"

#include "app/ErrorGuard.h"

namespace {

template <class T>
const T *named(const T *item, const QString &name)
{
    if (!item)
        throw zeplo::Error(QStringLiteral("The report has no part named %1").arg(name));
    return item;
}

} // namespace

TTisk::TTisk(zeplo::TQuery *query, QObject *parent)
    : QObject(parent),
      m_layout(zeplo::bookListLayout()),
      QRBand1(named(m_layout.band(QStringLiteral("QRBand1")), QStringLiteral("QRBand1"))),
      QRBand2(named(m_layout.band(QStringLiteral("QRBand2")), QStringLiteral("QRBand2"))),
      QRBand3(named(m_layout.band(QStringLiteral("QRBand3")), QStringLiteral("QRBand3"))),
      QRBand4(named(m_layout.band(QStringLiteral("QRBand4")), QStringLiteral("QRBand4"))),
#define ZEPLO_PRINTABLE(n) n(named(m_layout.printable(QStringLiteral(#n)), QStringLiteral(#n)))
      ZEPLO_PRINTABLE(QRLabel1),
      ZEPLO_PRINTABLE(QRLabel2),
      ZEPLO_PRINTABLE(QRSysData1),
      ZEPLO_PRINTABLE(QRLabel3),
      ZEPLO_PRINTABLE(QRLabel4),
      ZEPLO_PRINTABLE(QRLabel5),
      ZEPLO_PRINTABLE(QRLabel6),
      ZEPLO_PRINTABLE(QRLabel9),
      ZEPLO_PRINTABLE(QRSysData2),
      ZEPLO_PRINTABLE(QRShape1),
      ZEPLO_PRINTABLE(QRDBText1),
      ZEPLO_PRINTABLE(QRDBText2),
      ZEPLO_PRINTABLE(QRDBText3),
      ZEPLO_PRINTABLE(QRDBText4),
      ZEPLO_PRINTABLE(QRLabel10),
      ZEPLO_PRINTABLE(QRLabel11),
      ZEPLO_PRINTABLE(QRSysData3),
#undef ZEPLO_PRINTABLE
      m_query(query),
      m_printer(zeplo::PrinterSettings::initial()),
      m_renderer(m_layout, query)
{
    setObjectName(QStringLiteral("Tisk"));
}

TTisk::~TTisk() = default;

bool TTisk::render(zeplo::ReportOutput &output)
{
    return m_renderer.render(output, m_printer);
}
