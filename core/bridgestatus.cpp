#include "core/bridgestatus.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace bridgestatus {

namespace {

struct Counter {
    const char *json;
    const char *metric;
    const char *help;
    qint64 BridgeStatus::*field;
};

// Every counter once, in the order the metrics list them.
const Counter counters[] = {
    {"reopens", "tolvane_serial_reopens_total", "Times the serial port was opened again after the first time.",
     &BridgeStatus::reopens},
    {"losses", "tolvane_serial_losses_total", "Times the serial device went away while the port was open.",
     &BridgeStatus::losses},
    {"commands_written", "tolvane_commands_written_total", "Commands written to the serial port.",
     &BridgeStatus::commandsWritten},
    {"replies_forwarded", "tolvane_replies_forwarded_total", "Projector replies sent on to the TCP client.",
     &BridgeStatus::repliesForwarded},
    {"echoes_dropped", "tolvane_echoes_dropped_total", "Echoes of the last command dropped.",
     &BridgeStatus::echoesDropped},
    {"timeouts", "tolvane_timeouts_total", "Commands that timed out on the serial line.", &BridgeStatus::timeouts},
    {"local_answers", "tolvane_local_answers_total", "Commands the bridge answered itself, having no serial port.",
     &BridgeStatus::localAnswers},
    {"bytes_to_serial", "tolvane_bytes_to_serial_total", "Bytes written to the serial port.",
     &BridgeStatus::bytesToSerial},
    {"bytes_from_serial", "tolvane_bytes_from_serial_total", "Bytes read from the serial port.",
     &BridgeStatus::bytesFromSerial},
    {"bytes_to_tcp", "tolvane_bytes_to_tcp_total", "Bytes sent to the TCP client.", &BridgeStatus::bytesToTcp},
    {"bytes_from_tcp", "tolvane_bytes_from_tcp_total", "Bytes received from TCP clients.", &BridgeStatus::bytesFromTcp},
    {"tcp_accepted", "tolvane_tcp_accepted_total", "TCP connections accepted.", &BridgeStatus::tcpAccepted},
    {"probes_answered", "tolvane_probes_answered_total", "Discovery probes answered.", &BridgeStatus::probesAnswered},
    {"datagrams", "tolvane_datagrams_total", "Datagrams received on the discovery port.", &BridgeStatus::datagrams},
};

const PortState portStates[] = {PortState::Open, PortState::Closed, PortState::Lost, PortState::Waiting};

QJsonValue nullable(const QString &text) { return text.isNull() ? QJsonValue() : QJsonValue(text); }

// Seconds to the millisecond, written as briefly as they read back.
double seconds(double s) { return qRound64(s * 1000) / 1000.0; }
QByteArray number(double value)
{
    return QString::number(seconds(value), 'g', QLocale::FloatingPointShortest).toLatin1();
}

QByteArray labelValue(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return '"' + out + '"';
}

// One family: its HELP and TYPE lines, then the samples ("{labels} value" after the name).
void family(QByteArray &out, const char *name, const char *type, const char *help, const QList<QByteArray> &samples)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    for (const QByteArray &sample : samples)
        out += name + (sample.startsWith('{') ? sample : ' ' + sample) + '\n';
}

} // namespace

QString portStateName(PortState state)
{
    switch (state) {
    case PortState::Open: return QStringLiteral("open");
    case PortState::Lost: return QStringLiteral("lost");
    case PortState::Waiting: return QStringLiteral("waiting");
    case PortState::Closed: break;
    }
    return QStringLiteral("closed");
}

QByteArray toJson(const BridgeStatus &status)
{
    QJsonObject o{
        {"version", status.version},
        {"mode", status.mode},
        {"uptime_s", seconds(status.uptimeS)},
        {"port", status.port},
        {"settings", status.settings},
        {"port_state", portStateName(status.portState)},
        {"port_open_since",
         status.portOpenSince.isValid() ? QJsonValue(status.portOpenSince.toUTC().toString(Qt::ISODateWithMs))
                                        : QJsonValue()},
        {"current_client", nullable(status.currentClient)},
        {"last_reply_age_s", status.lastReplyAgeS ? QJsonValue(seconds(*status.lastReplyAgeS)) : QJsonValue()},
    };
    for (const Counter &c : counters)
        o.insert(QLatin1String(c.json), status.*c.field);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray toMetrics(const BridgeStatus &status)
{
    QByteArray out;
    family(out, "tolvane_info", "gauge", "The bridge's version and mode.",
           {"{version=" + labelValue(status.version) + ",mode=" + labelValue(status.mode) + "} 1"});
    family(out, "tolvane_uptime_seconds", "gauge", "Seconds since the bridge started.", {number(status.uptimeS)});
    family(out, "tolvane_serial_port_info", "gauge", "The serial port and its settings as the status bar shows them.",
           {"{port=" + labelValue(status.port) + ",settings=" + labelValue(status.settings) + "} 1"});
    QList<QByteArray> states;
    for (PortState s : portStates)
        states += "{state=" + labelValue(portStateName(s)) + "} " + (s == status.portState ? "1" : "0");
    family(out, "tolvane_serial_port_state", "gauge", "1 for the serial port's current state, 0 for the others.",
           states);
    family(out, "tolvane_serial_port_opened_timestamp_seconds", "gauge",
           "When the serial port was opened, in seconds since the Unix epoch; absent unless open.",
           status.portOpenSince.isValid() ? QList<QByteArray>{number(status.portOpenSince.toMSecsSinceEpoch() / 1000.0)}
                                          : QList<QByteArray>{});
    for (const Counter &c : counters)
        family(out, c.metric, "counter", c.help, {QByteArray::number(status.*c.field)});
    family(out, "tolvane_tcp_client_connected", "gauge", "1 while a TCP client is connected.",
           {status.currentClient.isNull() ? "0" : "1"});
    family(out, "tolvane_tcp_client_info", "gauge", "The current TCP client's address; absent when there is none.",
           status.currentClient.isNull() ? QList<QByteArray>{}
                                         : QList<QByteArray>{"{address=" + labelValue(status.currentClient) + "} 1"});
    family(out, "tolvane_last_reply_age_seconds", "gauge",
           "Seconds since the last reply reached the TCP client; absent before the first.",
           status.lastReplyAgeS ? QList<QByteArray>{number(*status.lastReplyAgeS)} : QList<QByteArray>{});
    return out;
}

QByteArray toPage(const BridgeStatus &status, const QStringList &traffic)
{
    // Inside a script element nothing may read as its end tag.
    QByteArray json = toJson(status);
    json.replace("</", "<\\/");
    QString lines;
    if (!traffic.isEmpty())
        lines = QStringLiteral("<h2>Traffic</h2><pre id=\"traffic\">%1</pre>").arg(traffic.join('\n').toHtmlEscaped());
    return QStringLiteral(R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tolvane status</title>
<style>
body{font:16px/1.4 system-ui,sans-serif;margin:0 auto;padding:12px;max-width:40em;color:#222;background:#fafafa}
h1{font-size:1.3em;margin:0 0 4px}h2{font-size:1em;margin:16px 0 4px;color:#555}
#state{display:inline-block;padding:4px 12px;border-radius:6px;font-weight:bold;color:#fff;background:#777}
#state.open{background:#2a7d2e}#state.lost{background:#b3261e}#state.waiting{background:#a66500}
#stale{color:#b3261e;font-weight:bold}
table{width:100%;border-collapse:collapse}td{padding:3px 0;border-bottom:1px solid #ddd;vertical-align:top}
td:first-child{white-space:nowrap;padding-right:12px}td:last-child{text-align:right;font-variant-numeric:tabular-nums;word-break:break-all}
pre{font-size:12px;background:#fff;border:1px solid #ddd;padding:6px;overflow-x:auto;white-space:pre-wrap}
</style></head><body>
<h1 id="head">Tolvane</h1>
<div><span id="state">?</span> <span id="stale"></span></div>
<div id="fields"></div>
%2
<script>
const groups=[["Serial port",[["Port","port"],["Settings","settings"],["Open since","port_open_since",t=>t?new Date(t).toLocaleString():"-"],
["Reopened","reopens"],["Lost","losses"]]],
["Commands",[["Written","commands_written"],["Replies forwarded","replies_forwarded"],["Echoes dropped","echoes_dropped"],
["Timeouts","timeouts"],["Answered locally","local_answers"]]],
["Bytes",[["To serial","bytes_to_serial"],["From serial","bytes_from_serial"],["To TCP","bytes_to_tcp"],["From TCP","bytes_from_tcp"]]],
["TCP",[["Client","current_client",c=>c||"none"],["Connections accepted","tcp_accepted"],
["Last reply","last_reply_age_s",a=>a==null?"none yet":span(a)+" ago"]]],
["UDP",[["Probes answered","probes_answered"],["Datagrams","datagrams"]]]];
function span(s){s=Math.round(s);const d=Math.floor(s/86400),h=Math.floor(s/3600)%24,m=Math.floor(s/60)%60;
return d?d+" d "+h+" h":h?h+" h "+m+" min":m?m+" min "+s%60+" s":s+" s"}
function el(tag,text){const e=document.createElement(tag);e.textContent=text;return e}
function show(s){document.getElementById("head").textContent="Tolvane "+s.version+" \u00b7 "+s.mode+" \u00b7 up "+span(s.uptime_s);
const st=document.getElementById("state");st.textContent="Port "+s.port_state;st.className=s.port_state;
const f=document.getElementById("fields");f.replaceChildren();
for(const[title,rows]of groups){f.append(el("h2",title));const t=el("table","");
for(const[label,key,fmt]of rows){const r=t.insertRow();r.append(el("td",label),el("td",fmt?fmt(s[key]):String(s[key]??"-")))}f.append(t)}
document.title="Tolvane "+s.port_state}
async function tick(){try{const r=await fetch("/status",{cache:"no-store"});show(await r.json());
const p=document.getElementById("traffic");if(p){const d=new DOMParser().parseFromString(await(await fetch("/",{cache:"no-store"})).text(),"text/html");
const n=d.getElementById("traffic");if(n)p.replaceWith(n)}document.getElementById("stale").textContent=""}
catch(e){const x=document.getElementById("stale");if(!x.textContent)x.textContent="no answer since "+new Date().toLocaleTimeString()}}
show(%1);setInterval(tick,3000);
</script></body></html>
)")
        .arg(QString::fromUtf8(json), lines)
        .toUtf8();
}

} // namespace bridgestatus
