#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/BinaryXmlDecoder.h"

using namespace kestrane;

namespace {

// Builds a stored binary xml value byte by byte.
struct Bx {
    std::vector<uint8_t> b{0xDF, 0xFF, 0x01, 0xB0, 0x04};

    Bx& raw(std::initializer_list<int> bytes) {
        for (int v : bytes) b.push_back(uint8_t(v));
        return *this;
    }
    Bx& mb(uint64_t v) {
        do {
            uint8_t byte = v & 0x7F;
            v >>= 7;
            b.push_back(v ? byte | 0x80 : byte);
        } while (v);
        return *this;
    }
    Bx& chars(const std::u16string& s) {
        for (char16_t c : s) raw({c & 0xFF, c >> 8});
        return *this;
    }
    Bx& text(const std::u16string& s) { return mb(s.size()).chars(s); }
    Bx& name(const std::u16string& s) { return raw({0xF0}).text(s); }
    Bx& qname(int ns, int prefix, int local) { return raw({0xEF}).mb(ns).mb(prefix).mb(local); }
    Bx& element(int q) { return raw({0xF8}).mb(q); }
    Bx& attribute(int q) { return raw({0xF6}).mb(q); }
    Bx& endAttributes() { return raw({0xF5}); }
    Bx& end() { return raw({0xF7}); }
    Bx& nvarchar(const std::u16string& s) { return raw({0x11}).mb(s.size()).chars(s); }
    // <v>…</v> around one typed value, with name 1 = "v" and qname 1 = v.
    static std::wstring Typed(std::initializer_list<int> value) {
        Bx x;
        x.name(u"v").qname(0, 0, 1).element(1).raw(value).end();
        return x.decode();
    }
    std::wstring decode() const { return DecodeBinaryXml(ByteView(b)); }
};

}  // namespace

TEST(BinaryXmlDecoder, ElementsAttributesAndTextWithEscaping) {
    Bx x;
    x.name(u"root").name(u"a").name(u"p").name(u"urn:x")
        .qname(0, 0, 1).qname(0, 0, 2).qname(4, 3, 2)
        .element(1).attribute(2).nvarchar(u"1<\"&\"\t").attribute(3).nvarchar(u"q").endAttributes()
        .nvarchar(u"x > y & z\r\n").element(3).end().element(2).nvarchar(u"in").end().end();
    EXPECT_EQ(x.decode(), L"<root a=\"1&lt;&quot;&amp;&quot;&#x9;\" p:a=\"q\">x &gt; y &amp; z&#xD;\n"
                          L"<p:a/><a>in</a></root>");

    Bx declared;  // namespace declarations are stored as attributes named "xmlns:p" / "xmlns" with no local name
    declared.name(u"e").name(u"urn:a").name(u"p").name(u"xmlns:p").name(u"xmlns")
        .qname(2, 3, 1).qname(0, 4, 0).qname(0, 5, 0)
        .element(1).attribute(2).nvarchar(u"urn:a").attribute(3).nvarchar(u"urn:b").endAttributes().end();
    EXPECT_EQ(declared.decode(), L"<p:e xmlns:p=\"urn:a\" xmlns=\"urn:b\"/>");

    Bx split;  // string values run on as one text
    split.name(u"e").qname(0, 0, 1).element(1).nvarchar(u"ab").nvarchar(u"cd").end();
    EXPECT_EQ(split.decode(), L"<e>abcd</e>");

    Bx fragment;  // top-level text and several roots are kept
    fragment.name(u"e").qname(0, 0, 1).nvarchar(u"t").element(1).end().element(1).end();
    EXPECT_EQ(fragment.decode(), L"t<e/><e/>");
}

TEST(BinaryXmlDecoder, CommentsPisCDataDeclarationsAndXmlText) {
    Bx x;
    x.raw({0xFE}).text(u"1.0").raw({0xFD}).text(u"utf-16").raw({0x01})
        .raw({0xFC}).text(u"r").raw({0xFB}).text(u"r.dtd").raw({0xFA}).text(u"-//p").raw({0xF9}).text(u"<!ENTITY e 'x'>")
        .name(u"r").name(u"go").qname(0, 0, 1)
        .raw({0xF3}).text(u" note ")
        .element(1)
        .raw({0xF4}).mb(2).text(u"fast")
        .raw({0xF4}).mb(2).text(u"")
        .raw({0xF2}).text(u"a]]").raw({0xF2}).text(u">b<").raw({0xF1})
        .raw({0xED}).text(u"<raw/>")
        .end();
    EXPECT_EQ(x.decode(),
              L"<?xml version=\"1.0\" encoding=\"utf-16\" standalone=\"yes\"?>"
              L"<!DOCTYPE r PUBLIC \"-//p\" \"r.dtd\" [<!ENTITY e 'x'>]><!-- note -->"
              L"<r><?go fast?><?go?><![CDATA[a]]]]><![CDATA[>b<]]><raw/></r>");
}

TEST(BinaryXmlDecoder, NameTablesFlushNestAndExtensions) {
    Bx x;
    x.name(u"a").qname(0, 0, 1)
        .raw({0xEA}).mb(3).raw({1, 2, 3})  // an extension is skipped whole
        .element(1)
        .raw({0xEC, 0xDF, 0xFF, 0x01, 0xB0, 0x04})  // a nested document has tables of its own
        .name(u"inner").qname(0, 0, 1).element(1).end()
        .raw({0xEB})
        .element(1).end()  // the outer tables are back
        .raw({0xE9})       // flush: qname 1 is gone until defined again
        .name(u"b").qname(0, 0, 1).element(1).end()
        .end();
    EXPECT_EQ(x.decode(), L"<a><inner/><a/><b/></a>");

    Bx undefined;  // a qname that names a missing name
    undefined.qname(0, 0, 7).element(1).end();
    EXPECT_EQ(undefined.decode(), L"");
    Bx afterFlush;
    afterFlush.name(u"a").qname(0, 0, 1).raw({0xE9}).element(1).end();
    EXPECT_EQ(afterFlush.decode(), L"");
}

TEST(BinaryXmlDecoder, TypedValues) {
    EXPECT_EQ(Bx::Typed({0x01, 0xFE, 0xFF}), L"<v>-2</v>");
    EXPECT_EQ(Bx::Typed({0x02, 0x00, 0x00, 0x00, 0x80}), L"<v>-2147483648</v>");
    EXPECT_EQ(Bx::Typed({0x08, 1, 0, 0, 0, 0, 0, 0, 0x80}), L"<v>-9223372036854775807</v>");
    EXPECT_EQ(Bx::Typed({0x07, 0xFF}), L"<v>255</v>");
    EXPECT_EQ(Bx::Typed({0x88, 0xFF}), L"<v>-1</v>");
    EXPECT_EQ(Bx::Typed({0x89, 0xFF, 0xFF}), L"<v>65535</v>");
    EXPECT_EQ(Bx::Typed({0x8A, 0xFF, 0xFF, 0xFF, 0xFF}), L"<v>4294967295</v>");
    EXPECT_EQ(Bx::Typed({0x8B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), L"<v>18446744073709551615</v>");
    EXPECT_EQ(Bx::Typed({0x06, 0x01}), L"<v>1</v>");
    EXPECT_EQ(Bx::Typed({0x86, 0x00}), L"<v>false</v>");
    EXPECT_EQ(Bx::Typed({0x03, 0x00, 0x00, 0xC0, 0x3F}), L"<v>1.5</v>");
    EXPECT_EQ(Bx::Typed({0x04, 0, 0, 0, 0, 0, 0, 0xF0, 0x7F}), L"<v>INF</v>");
    EXPECT_EQ(Bx::Typed({0x04, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}), L"<v>0.1</v>");
    // money: high 32 bits first; 1234567 / 10000
    EXPECT_EQ(Bx::Typed({0x05, 0, 0, 0, 0, 0x87, 0xD6, 0x12, 0x00}), L"<v>123.4567</v>");
    EXPECT_EQ(Bx::Typed({0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xD8, 0xFF, 0xFF}), L"<v>-1.00</v>");
    EXPECT_EQ(Bx::Typed({0x14, 0x88, 0x13, 0, 0}), L"<v>0.50</v>");
    EXPECT_EQ(Bx::Typed({0x09, 0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                         0xEE, 0xFF}),
              L"<v>00112233-4455-6677-8899-aabbccddeeff</v>");
    // decimal(5,2) -123.45 keeps its scale; an xs:decimal is canonical: 0.0100 and 118 at scale 10
    EXPECT_EQ(Bx::Typed({0x0A, 7, 5, 2, 0, 0x39, 0x30, 0, 0}), L"<v>-123.45</v>");
    EXPECT_EQ(Bx::Typed({0x87, 7, 10, 4, 1, 100, 0, 0, 0}), L"<v>0.01</v>");
    EXPECT_EQ(Bx::Typed({0x87, 19, 38, 10, 1, 0x00, 0x18, 0x7B, 0xBD, 0x12, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              L"<v>118</v>");
    EXPECT_EQ(Bx::Typed({0x0B, 19, 38, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF}),
              L"<v>340282366920938463463374607431768211455</v>");
    EXPECT_EQ(Bx::Typed({0x0F, 3, 'a', 'b', 'c'}), L"<v>YWJj</v>");
    EXPECT_EQ(Bx::Typed({0x0C, 1, 0xFF}), L"<v>/w==</v>");
    EXPECT_EQ(Bx::Typed({0x17, 0}), L"<v></v>");
    EXPECT_EQ(Bx::Typed({0x1B, 2, 1, 2}), L"<v>AQI=</v>");
    EXPECT_EQ(Bx::Typed({0x85, 2, 'h', 'i'}), L"<v>aGk=</v>");
    EXPECT_EQ(Bx::Typed({0x84, 2, 0x0A, 0xF1}), L"<v>0AF1</v>");
    EXPECT_EQ(Bx::Typed({0x10, 6, 0xE4, 0x04, 0, 0, 'o', 0xE9}), L"<v>o\u00e9</v>");        // code page 1252
    EXPECT_EQ(Bx::Typed({0x0D, 5, 0xE4, 0x04, 0, 0, 0xE9}), L"<v>\u00e9</v>");
    EXPECT_EQ(Bx::Typed({0x16, 5, 0xE3, 0x04, 0, 0, 0xE9}), L"<v>\u0439</v>");  // code page 1251
    EXPECT_EQ(Bx::Typed({0x0E, 1, '<', 0}), L"<v>&lt;</v>");
    EXPECT_EQ(Bx::Typed({0x18, 2, 0x3B, 0xD8, 0x00, 0xDF}), L"<v>\U0001EF00</v>");
    // datetime 2000-01-01 + 150 ticks (0.5 s); smalldatetime 1900-01-02 00:01
    EXPECT_EQ(Bx::Typed({0x12, 0xAC, 0x8E, 0, 0, 150, 0, 0, 0}), L"<v>2000-01-01T00:00:00.5</v>");
    EXPECT_EQ(Bx::Typed({0x13, 1, 0, 1, 0}), L"<v>1900-01-02T00:01:00</v>");
    // date 0001-01-02; time(7) 1 s; datetime2(0) 0001-01-01T00:00:01
    EXPECT_EQ(Bx::Typed({0x7F, 1, 0, 0}), L"<v>0001-01-02</v>");
    EXPECT_EQ(Bx::Typed({0x7D, 7, 0x80, 0x96, 0x98, 0, 0, 0, 0, 0}), L"<v>00:00:01</v>");
    EXPECT_EQ(Bx::Typed({0x7E, 0, 1, 0, 0, 0, 0, 0}), L"<v>0001-01-01T00:00:01</v>");
    // datetimeoffset(2): 23:30 UTC on 0001-01-01 at +01:00 is 00:30 the next day
    EXPECT_EQ(Bx::Typed({0x7B, 2, 0xE0, 0x16, 0x81, 0, 0, 0, 60, 0}), L"<v>0001-01-02T00:30:00+01:00</v>");
    EXPECT_EQ(Bx::Typed({0x7A, 2, 0xE0, 0x16, 0x81, 0, 0, 0, 0xC4, 0xFF}), L"<v>22:30:00-01:00</v>");
    EXPECT_EQ(Bx::Typed({0x7C, 0, 0, 0, 0, 0}), L"<v>0001-01-01Z</v>");
    // a qname value and a list of typed values
    Bx q;
    q.name(u"v").name(u"p").name(u"l").qname(0, 0, 1).qname(0, 2, 3).element(1).raw({0x8C}).mb(2).end();
    EXPECT_EQ(q.decode(), L"<v>p:l</v>");
    EXPECT_EQ(Bx::Typed({0x02, 1, 0, 0, 0, 0x02, 2, 0, 0, 0}), L"<v>1 2</v>");
}

TEST(BinaryXmlDecoder, MalformedValuesGiveEmptyText) {
    Bx good;
    good.name(u"root").qname(0, 0, 1).element(1).nvarchar(u"text").end();
    ASSERT_EQ(good.decode(), L"<root>text</root>");
    for (size_t n = 0; n < good.b.size(); ++n)  // every truncation fails cleanly
        EXPECT_EQ(DecodeBinaryXml(ByteView(good.b.data(), n)), L"") << n;

    auto mutated = [&](size_t at, uint8_t v) {
        std::vector<uint8_t> b = good.b;
        b[at] = v;
        return DecodeBinaryXml(ByteView(b));
    };
    EXPECT_EQ(mutated(0, 0xDE), L"");  // signature
    EXPECT_EQ(mutated(2, 0x03), L"");  // version
    EXPECT_EQ(mutated(3, 0xE9), L"");  // encoding
    EXPECT_EQ(DecodeBinaryXml(ByteView()), L"");

    EXPECT_EQ(Bx::Typed({0x15}), L"");                             // unknown token
    EXPECT_EQ(Bx::Typed({0x82, 0, 0, 0, 0, 0, 0, 0, 0}), L"");     // old date/time tokens are not read
    EXPECT_EQ(Bx::Typed({0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), L"");  // length past the end
    EXPECT_EQ(Bx::Typed({0x11, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), L"");
    EXPECT_EQ(Bx::Typed({0x0A, 4, 5, 2, 1, 0}), L"");               // decimal of odd size
    EXPECT_EQ(Bx::Typed({0x13, 0, 0, 0xA0, 0x05}), L"");            // 1440 minutes
    EXPECT_EQ(Bx::Typed({0x7D, 8, 0, 0, 0, 0, 0}), L"");            // scale 8

    Bx endWithoutElement;
    endWithoutElement.end();
    EXPECT_EQ(endWithoutElement.decode(), L"");
    Bx attributeOutsideTag;
    attributeOutsideTag.name(u"a").qname(0, 0, 1).element(1).nvarchar(u"x").attribute(1).end();
    EXPECT_EQ(attributeOutsideTag.decode(), L"");
    Bx unclosedCData;
    unclosedCData.name(u"a").qname(0, 0, 1).element(1).raw({0xF2}).text(u"x").end();
    EXPECT_EQ(unclosedCData.decode(), L"");
    Bx endNestAtTop;
    endNestAtTop.raw({0xEB});
    EXPECT_EQ(endNestAtTop.decode(), L"");

    Bx deep;  // nesting is bounded only by memory, and never recursive
    deep.name(u"d").qname(0, 0, 1);
    for (int i = 0; i < 100000; ++i) deep.element(1);
    for (int i = 0; i < 100000; ++i) deep.end();
    EXPECT_EQ(deep.decode().size(), 99999u * 7 + 4);

    Bx nests;  // nested documents are bounded
    for (int i = 0; i < 100; ++i) nests.raw({0xEC, 0xDF, 0xFF, 0x01, 0xB0, 0x04});
    for (int i = 0; i < 100; ++i) nests.raw({0xEB});
    EXPECT_EQ(nests.decode(), L"");
}
