#include "facade/approved_sites.h"
#include "facade/facade_fixture.h"
#include "facade/page_address.h"
#include "platform/last_error.h"

using namespace tessal;
using namespace tessal::test;

namespace {
constexpr std::u16string_view kRefused = u"Neleistina komponentės veikimo aplinka";
}

TEST(PageAddress, SplitsSchemeHostAndPort) {
    auto p = facade::splitPageAddress(u"HTTPS://User:Pw@WWW.NK.Example:8443/app?x#y");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scheme, u"https");
    EXPECT_EQ(p->host, u"www.nk.example");
    EXPECT_EQ(p->port, 8443);
    p = facade::splitPageAddress(u"http://nk.example/");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->port, 80);
    p = facade::splitPageAddress(u"https://nk.example");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->port, 443);
    p = facade::splitPageAddress(u"file:///home/user/page.html");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scheme, u"file");
    EXPECT_EQ(p->host, u"");
}

TEST(PageAddress, HostEscapesAreUndoneAfterTheHostIsTaken) {
    auto p = facade::splitPageAddress(u"https://%6Ek.EXAMPLE/");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->host, u"nk.example");
    // An escaped '@', '/' or '\\' must not move the host's boundaries.
    p = facade::splitPageAddress(u"https://nk.example%2F@evil.example/");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->host, u"evil.example");
    EXPECT_FALSE(facade::splitPageAddress(u"https://nk.example%40evil.example/"));
}

TEST(PageAddress, RefusesHostsThatAreNotPlainNames) {
    for (const std::u16string_view address :
         {std::u16string_view(u"https://evil.example%00.nk.example/"), std::u16string_view(u"https://evil.example%0A.nk.example/"),
          std::u16string_view(u"https://evil.example%20.nk.example/"), std::u16string_view(u"https://evil%5Cx.nk.example/"),
          std::u16string_view(u"https://www.nk.example./"), std::u16string_view(u"https://a..nk.example/"),
          std::u16string_view(u"https://\u00e9.nk.example/"), std::u16string_view(u"https://%C3%A9.nk.example/"),
          std::u16string_view(u"https://[::1]/")}) {
        EXPECT_FALSE(facade::splitPageAddress(address)) << "address of " << address.size() << " units";
        EXPECT_EQ(platform::lastError(), 12005u);
    }
    const char16_t withNul[] = u"https://evil.example\0.nk.example/";
    EXPECT_FALSE(facade::splitPageAddress(std::u16string_view(withNul, sizeof withNul / 2 - 1)));
}

TEST(PageAddress, RefusesAddressesWithoutSchemeOrWithBadPort) {
    EXPECT_FALSE(facade::splitPageAddress(u"no scheme here"));
    EXPECT_EQ(platform::lastError(), 12006u);
    EXPECT_FALSE(facade::splitPageAddress(u"http://nk.example:99999/"));
    EXPECT_EQ(platform::lastError(), 12005u);
    EXPECT_FALSE(facade::splitPageAddress(u"http://nk.example:8o/"));
    EXPECT_FALSE(facade::splitPageAddress(std::u16string(3000, u'a')));
}

TEST(ApprovedSites, HostPatternForms) {
    EXPECT_TRUE(facade::hostMatchesPattern(u"nk.example", u"nk.example"));
    EXPECT_TRUE(facade::hostMatchesPattern(u"www.nk.example", u"nk.example"));
    EXPECT_FALSE(facade::hostMatchesPattern(u"evilnk.example", u"nk.example"));
    EXPECT_FALSE(facade::hostMatchesPattern(u"NK.example", u"nk.example"));
    EXPECT_FALSE(facade::hostMatchesPattern(u"nk.example", u"*.nk.example"));
    EXPECT_TRUE(facade::hostMatchesPattern(u"a.nk.example", u"*.nk.example"));
    EXPECT_TRUE(facade::hostMatchesPattern(u"nk.example", u"=nk.example"));
    EXPECT_FALSE(facade::hostMatchesPattern(u"a.nk.example", u"=nk.example"));
}

TEST(ApprovedSites, FirstMatchingRowDecidesAndZonesMatchByNumber) {
    const ApprovedSiteRow rows[] = {{1, u"https", u"=bad.nk.example"},
                                    {0, u"https", u"nk.example"},
                                    {0, u"http", facade::kIntranetZoneMarker.data()},
                                    {0, u"file", u""}};
    EXPECT_FALSE(facade::siteApproved(rows, u"https", u"bad.nk.example", 3));
    EXPECT_TRUE(facade::siteApproved(rows, u"https", u"good.nk.example", 3));
    EXPECT_TRUE(facade::siteApproved(rows, u"http", u"anything", 1));
    EXPECT_TRUE(facade::siteApproved(rows, u"http", u"anything", 2));
    EXPECT_FALSE(facade::siteApproved(rows, u"http", u"anything", 3));
    EXPECT_TRUE(facade::siteApproved(rows, u"file", u"", 0));
    EXPECT_FALSE(facade::siteApproved(rows, u"ftp", u"nk.example", 3));
}

TEST(ApprovedSites, TableHoldsBothOrganisationDomainsOverBothSchemes) {
    const auto rows = facade::approvedSites();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(std::u16string_view(rows[0].scheme), u"http");
    EXPECT_EQ(std::u16string_view(rows[2].scheme), u"https");
    EXPECT_EQ(std::u16string_view(rows[0].domain), std::u16string_view(rows[2].domain));
    EXPECT_EQ(std::u16string_view(rows[1].domain), std::u16string_view(rows[3].domain));
}

TEST_F(FacadeTest, DesktopObjectIsAllowedAndUsesConfiguredDomains) {
    Sign sign(host);
    EXPECT_EQ(sign.putPkiDomain(u"a.example; b.example"), hr::S_OK);
    EXPECT_TRUE(logHas("Tessal objektas kuriamas nestandartinės naršyklės aplinkoje (neiškviesta IObjectSafety "
                       "sąsaja). Aplinka tikrinama apeinant IObjectSafety sąsają."));
    EXPECT_TRUE(logHas("Komponentė veikia ne interneto naršyklės aplinkoje. Viešojo rakto infrastruktūros objektai "
                       "bus pasiekiami konfigūravimo parametruose nurodytais adresais"));
    EXPECT_TRUE(logHas("Naudojama viešojo rakto infrastruktūra srityje \"http://a.example\""));
    EXPECT_EQ(pki::pkiDomainList().count(), 2u);
}

TEST_F(FacadeTest, ApprovedHttpsPageThroughSafetyInterface) {
    auto sign = inPage("https://www.nk.example/app");
    EXPECT_EQ(sign->setInterfaceSafetyOptions(iid::IDispatch, 1, 1), hr::S_OK);
    std::uint32_t supported = 9, enabled = 9;
    EXPECT_EQ(sign->getInterfaceSafetyOptions(iid::IDispatch, &supported, &enabled), hr::S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 1u);
    EXPECT_TRUE(logHas("Naršyklės grąžintas interneto srities vardas: \"www.nk.example\"; schema: \"https\""));
    // The page's domain becomes the PKI domain, and no other may be set.
    ASSERT_EQ(pki::pkiDomainList().count(), 1u);
    EXPECT_EQ(pki::pkiDomainList().entry(0)->host, "www.nk.example");
    EXPECT_EQ(pki::pkiDomainList().entry(0)->port, 443);
    EXPECT_EQ(sign->putPkiDomain(u"other.example"), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(lastDescription(),
              u"Naršyklės aplinkoje viešojo rakto infrastruktūros elementai išrenkami einamajame domene. Kitų "
              u"domenų nustatymas neleistinas.");
    // Enabled 0 under mask 1 clears the option again.
    EXPECT_EQ(sign->setInterfaceSafetyOptions(iid::IDispatch, 1, 0), hr::S_OK);
    EXPECT_EQ(sign->getInterfaceSafetyOptions(iid::IDispatch, &supported, &enabled), hr::S_OK);
    EXPECT_EQ(enabled, 0u);
}

TEST_F(FacadeTest, UnapprovedPagesAreRefusedForEveryGatedMember) {
    for (const char* url : {"https://evilnk.example/", "ftp://nk.example/", "file:///tmp/x.html",
                            "http://nk.example.evil.example/"}) {
        auto sign = inPage(url);
        EXPECT_EQ(sign->setInterfaceSafetyOptions(iid::IDispatch, 1, 1), hr::E_FAIL) << url;
        std::u16string out;
        EXPECT_EQ(sign->readFile(u"/etc/hostname", out), hr::DISP_E_EXCEPTION) << url;
        EXPECT_EQ(lastDescription(), kRefused);
        EXPECT_EQ(sign->getFileTime(u"/etc/hostname", out), hr::DISP_E_EXCEPTION) << url;
        EXPECT_EQ(lastDescription(), kRefused);
    }
    // A refused page's host is never a place that other objects fetch from.
    EXPECT_EQ(pki::pkiDomainList().count(), 0u);
}

TEST_F(FacadeTest, PageWithoutSafetyCallIsCheckedAtTheFirstGatedMember) {
    auto sign = inPage("http://pki.nk.example:8080/x");
    // Without the safety call the object leaves browser mode, but the page is
    // still checked and its domain used.
    EXPECT_EQ(sign->putPkiDomain(u"a.example"), hr::S_OK);
    EXPECT_TRUE(logHas("Naršyklės grąžintas interneto srities vardas: \"pki.nk.example\"; schema: \"http\""));
    EXPECT_EQ(pki::pkiDomainList().entry(0)->host, "a.example");
}

TEST_F(FacadeTest, UnparsableAddressIsRefusedAndLoggedWithTheErrorText) {
    auto sign = inPage("::not a url");
    std::uint32_t supported = 0, enabled = 0;
    EXPECT_EQ(sign->getInterfaceSafetyOptions(iid::IDispatch, &supported, &enabled), hr::S_OK);
    EXPECT_EQ(enabled, 0u);
    const std::string log = readWholeFile(dir.file("global.log"));
    EXPECT_NE(log.find("Klaida nustatant srities vardą iš interneto adreso \"::not a url\"\r\nOperacinės sistemos "
                       "grąžinta klaida (12006)"),
              std::string::npos)
        << log;
}

TEST_F(FacadeTest, HostThatIsNotPlainIsRefusedAndNeverBecomesAPkiDomain) {
    // The part before the NUL would otherwise have been fetched from while
    // the whole text matched as a subdomain of an approved site.
    for (const char* url : {"https://evil.example%00.nk.example/", "https://evil.example%0d.nk.example/",
                            "https://www.nk.example./", "https://http/"}) {
        auto sign = inPage(url);
        EXPECT_EQ(sign->setInterfaceSafetyOptions(iid::IDispatch, 1, 1), hr::E_FAIL) << url;
        std::u16string out;
        EXPECT_EQ(sign->syncTime(u"http://x/time", out), hr::DISP_E_EXCEPTION) << url;
        EXPECT_EQ(lastDescription(), kRefused);
    }
    EXPECT_EQ(pki::pkiDomainList().count(), 0u);
    EXPECT_TRUE(logHas("Klaida nustatant srities vardą iš interneto adreso \"https://evil.example%00.nk.example/\""));
}

TEST_F(FacadeTest, SafetyInterfaceArgumentChecks) {
    auto sign = inPage("https://nk.example/");
    std::uint32_t word = 0;
    EXPECT_EQ(sign->getInterfaceSafetyOptions(iid::IDispatch, nullptr, &word), hr::E_POINTER);
    const Guid unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    std::uint32_t supported = 7, enabled = 7;
    EXPECT_EQ(sign->getInterfaceSafetyOptions(unknown, &supported, &enabled), hr::E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(sign->setInterfaceSafetyOptions(unknown, 1, 1), hr::E_NOINTERFACE);
    EXPECT_TRUE(logHas("Tessal objekto kūrimas (IObjectSafety::SetInterfaceSafetyOptions : NO IUnknown)"));
    EXPECT_EQ(sign->setInterfaceSafetyOptions(iid::IDispatch, 2, 2), hr::E_FAIL);
    EXPECT_TRUE(logHas("Tessal objekto kūrimas (IObjectSafety::SetInterfaceSafetyOptions : NO OPTION : 2)"));
}

TEST_F(FacadeTest, SiteLockQueries) {
    Sign sign(host);
    std::uint32_t q = 0;
    EXPECT_EQ(sign.siteLockCapability(&q), hr::S_OK);
    EXPECT_EQ(q, 0x10004u);
    q = 1;
    EXPECT_EQ(sign.siteLockCapability(&q), hr::S_OK);
    EXPECT_EQ(q, 2u);
    q = 5;
    EXPECT_EQ(sign.siteLockCapability(&q), hr::E_NOTIMPL);
    EXPECT_EQ(q, 0u);
    EXPECT_EQ(sign.siteLockCapability(nullptr), hr::E_POINTER);
    const ApprovedSiteRow* rows = nullptr;
    std::uint32_t count = 0;
    EXPECT_EQ(sign.siteLockApprovedSites(&rows, &count), hr::S_OK);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(sign.siteLockApprovedSites(nullptr, &count), hr::E_POINTER);
}
