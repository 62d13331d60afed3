#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "sqltext/SqlExpression.h"

namespace kestrane {
namespace {

TEST(SqlExpression, StoredDefinitionFormsAreOneExpression) {
    for (const wchar_t* stored : {
             L"((0))", L"(getdate())", L"(N'a)b')", L"('it''s -- not /* a comment')", L"(0x0A0b)", L"($10.5)",
             L"((1.5E+10))", L"(-(1))", L"(~[flags])", L"([a]+[b]*(2)%(3)-[c]/(4))", L"([a]&(1)|(2)^(4))",
             L"([a]>(0) AND [b]<=(10) OR NOT [c]<>(1))", L"([a]!=(1) AND [a]!<(0) AND [a]!>(9))",
             L"([code] like 'x[_]%' escape '!')", L"([code] NOT LIKE N'%)%')", L"([a] IN ('a','b',N'c'))",
             L"([a] NOT IN ((1),(2)))", L"([a] between (1) and (10))", L"([a] IS NOT NULL)", L"([a] IS NULL)",
             L"(CONVERT([varchar](10),[x],(120)))", L"(CONVERT(nvarchar(max),[x]))", L"(CAST([a] AS decimal(10, 2)))",
             L"(try_cast([a] AS [int]))", L"(case when [a] IS NULL then (0) when [a]>(1) then (2) else (1) end)",
             L"(CASE [a] WHEN (1) THEN 'one' END)", L"(NEXT VALUE FOR [dbo].[Seq])", L"([g].[STArea]())",
             L"(geography::Point((1),(2),(4326)))", L"([x].value('(/a)[1]','int'))", L"(newid())",
             L"(suser_sname())", L"(CURRENT_TIMESTAMP)", L"(user)", L"(coalesce([a],(0)))", L"(left([a],(3)))",
             L"(nullif([a],''))", L"([we]]ird]+\"quo\"\"ted\")", L"([name] collate Latin1_General_CI_AS)",
             L"(dateadd(day,(1),getdate()))", L"(isnull([a],N''))", L"(@@spid)", L"(\x00C4nderung)", L"(NULL)",
             L"\t( [a] = 1 )\t"}) {
        EXPECT_TRUE(IsSingleExpression(stored)) << WideToUtf8(stored);
    }
}

TEST(SqlExpression, TextBeyondOneExpressionIsRefused) {
    for (const wchar_t* hostile : {
             L"([Active]=(0)) drop table [Orders]", L"((0)) for [x] alter table [y] add default (1)",
             L"((0)) for [x]", L"((0));drop table x", L"((0)) -- c", L"((0)) /* c */", L"([a]--1)",
             L"(N'a')) drop table x --'", L"(N'a", L"([a", L"(\"a", L"((0))\r\nGO", L"(N'a\nb')", L"(1)\x2028",
             L"(select 1)", L"(exists(select 1))", L"((0)),(1)", L"(0) (1)", L"drop(1)", L"exec('x')",
             L"((1) union select 1)", L"((1)) go", L"(1)) ((1)", L"((1)", L"", L"()", L"(a b)", L"([a] = )",
             L"([a] IS 1)", L"([a] NOT (1))", L"(CAST([a] AS))", L"(CONVERT(int))", L"(case when 1 then 2)",
             L"(NEXT VALUE [s])", L"([a] collate)", L"([a]=(1) ; )", L"(1)!", L"(\x07)", L"(f(1,))", L"(a.)",
             L"(left)", L"(1) $(x)", L"(x) :!!id"}) {
        EXPECT_FALSE(IsSingleExpression(hostile)) << WideToUtf8(hostile);
    }
    EXPECT_FALSE(IsSingleExpression(std::wstring(L"((0))\0 drop table x", 19)));
    // Deep nesting is refused without exhausting the stack; a modest depth is fine.
    EXPECT_FALSE(IsSingleExpression(std::wstring(100000, L'(') + L"1" + std::wstring(100000, L')')));
    EXPECT_FALSE(IsSingleExpression(L"(" + std::wstring(100000, L'-') + L"1)"));
    EXPECT_FALSE(IsSingleExpression(L"(" + std::wstring(10000, L'~') + L"1)"));
    EXPECT_TRUE(IsSingleExpression(std::wstring(50, L'(') + L"1" + std::wstring(50, L')')));
    std::wstring notChain = L"(";
    for (int i = 0; i < 10000; ++i) notChain += L"NOT ";
    EXPECT_FALSE(IsSingleExpression(notChain + L"[a]=1)"));
}

}  // namespace
}  // namespace kestrane
