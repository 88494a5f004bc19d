#include "bench/tvbench/traffic.h"

#include "bench/tvbench/common.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tvbench {

const std::vector<std::string> &markupTexts()
{
    static const std::string trap = trapAddress + ":" + std::to_string(trapPort);
    static const std::vector<std::string> texts = {
        "<img src=\"/dev/zero\">",
        "<img src=\"file:///etc/passwd\">",
        "<img src=\"/etc/passwd\" width=\"4000\" height=\"4000\">",
        "<img src=\"/dev/urandom\"><img src=\"/proc/self/mem\">",
        "<img src=\"http://" + trap + "/pixel.png\">",
        "<link rel=stylesheet href=\"file:///etc/passwd\">",
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"http://" + trap + "/evil.css\">",
        "<style>@import url(file:///etc/passwd); p { background-image: url(/dev/zero) }</style><p>x</p>",
        "<p style=\"background-image:url(file:///etc/shadow)\">styled</p>",
        "<span style=\"background: url('/dev/zero')\">bg</span>",
        "<ul style=\"list-style-image:url(/dev/zero)\"><li>item</li></ul>",
        "<table background=\"/dev/zero\"><tr><td background=\"file:///etc/passwd\">cell</td></tr></table>",
        "<body background=\"/etc/passwd\"><a href=\"file:///etc/passwd\">link</a></body>",
        "<a href=\"javascript:alert(1)\">js</a><a href=\"http://" + trap + "/\">http</a>",
        "<iframe src=\"/dev/zero\"></iframe><object data=\"/dev/zero\"></object><embed src=\"/dev/zero\">",
        "<img src=\"qrc:/html/About_en_US.html\"><img src=\"data:image/png;base64,AAAA\">",
        "<font size=\"+99\" color=\"#zzzzzz\" face=\"Comic\">big</font><h1 style=\"font-size:99999px\">huge</h1>",
        "<pre>%1 %2 %n %s &amp; &#0; &#xffff; &#1114112; &nosuch;</pre>",
        "</font></b></table></td></tr></html><!-- unclosed comment",
        "<![CDATA[ x ]]><?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"file:///etc/passwd\">",
        "<div dir=\"rtl\">\u202e\u0645\u0631\u062d\u0628\u0627</div>\U0001F600\ufeff",
    };
    return texts;
}

std::string nested(const std::string &kind, long depth)
{
    static const std::map<std::string, std::pair<std::string, std::string>> tags = {
        {"b", {"<b>", "</b>"}},
        {"div", {"<div>", "</div>"}},
        {"table", {"<table><tr><td>", "</td></tr></table>"}},
        {"list", {"<ul><li>", "</li></ul>"}},
        {"span", {"<span style=\"font-size:30px\">", "</span>"}},
        {"a", {"<a href=\"file:///etc/passwd\">", "</a>"}},
    };
    const auto it = tags.find(kind);
    if (it == tags.end())
        die("no markup kind " + kind);
    std::string s;
    for (long i = 0; i < depth; ++i)
        s += it->second.first;
    s += "deep";
    for (long i = 0; i < depth; ++i)
        s += it->second.second;
    return s;
}

const std::vector<std::string> nestKinds = {"b", "div", "table", "list"};

std::string junkChunk(Random &r)
{
    const double kind = r.real();
    if (kind < 0.30)
        return r.bytes(r.between(1, 4096));
    if (kind < 0.45)
        return r.pick<std::string>({"op ", "OP ", "Op  ", " op "})
            + r.from("abcdefghijklmnopqrstuvwxyz ?=.<>&;\t", r.between(0, 300))
            + r.pick<std::string>({"", "\r\n", "\n", "\r"});
    if (kind < 0.55)
        return r.pick<std::string>({lit("op model ?\0\xff junk"), lit("\0\0\0"),
                                    lit("op status ?\r\n\0op power = 0\r\n"),
                                    "\xff\xfe\xc3\x28\xe2\x82\x28\xf0\x28\x8c\xbc\xed\xa0\x80\xf4\x90\x80\x80",
                                    "op \xc3\xa9t\xc3\xa9 ?\r\n", "op \xe2\x82 ?\r\n", "\r\n", " \t \r\n \n"});
    if (kind < 0.60) // a line with no end for tens of kilobytes
        return r.pick<std::string>({"op ", "", "OP LAMP="})
            + r.from("abcdefghijklmnopqrstuvwxyz0123456789 ", r.between(16384, 131072));
    if (kind < 0.75) {
        const std::string text = r.real() < 0.8 ? r.pick(markupTexts()) : nested(r.pick(nestKinds), r.between(10, 60));
        return r.pick<std::string>({"op ", "", "op x = "}) + text + r.pick<std::string>({"", "\r\n"});
    }
    return r.pick<std::string>({"op status ?\r\n", "OP  Power ?\n", "op input=HDMI2\r\n", "op lamp ?\r", "hello\r\n",
                                "op %1 %2 ?\r\n", "op input=\r\n", "op ?\r\n"});
}

std::string nonProbe(Random &r, bool markup)
{
    const double kind = r.real();
    std::string data;
    if (kind < 0.08)
        data = r.pick<std::string>({"?zz?", "?ZZ", "ZZ?", "? ZZ?", lit("\0?ZZ?"), lit("x\0?ZZ?"), lit("?Z\0Z?"), "",
                                    "%1%2%3", "?\xef\xbc\x9fZZ?", "\xff?ZZ\xff?"});
    else if (kind < 0.5 || markup)
        data = r.real() < 0.85
            ? r.pick(markupTexts())
            : nested(r.pick<std::string>({"b", "div", "table", "list", "span"}), r.between(100, 2000));
    else if (kind < 0.97)
        data = r.bytes(r.between(0, 1400));
    else
        data = r.bytes(r.between(8000, 60000));
    data.resize(std::min<size_t>(data.size(), 65000));
    const size_t head = std::min(data.find('\0'), data.size());
    if (data.substr(0, head).find("ZZ") != std::string::npos)
        std::replace(data.begin(), data.begin() + long(head), 'Z', 'z');
    return data;
}

std::string probe(Random &r)
{
    const std::string before = r.from("abc <b>&;=%1", r.between(0, 40));
    const std::string afterBytes = r.bytes(r.between(0, 40));
    return r.pick<std::string>({"?ZZ?", before + " ?ZZ?" + afterBytes, "?ZZ??ZZ?", lit("?ZZ?\0trailing")});
}

} // namespace tvbench
