// The address book: its file read and written byte for byte, a received card
// merged into it, its dialogs' commands and the card window's layout.

#include "platform/folders.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/book/addr_book_dialogs.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/image/my_controls.h"
#include "trennick/link/common_base.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QComboBox>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace trennick;

namespace {

std::string bookPath(const char* name) {
    const auto dir = platform::homeFolder() / "data";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string groupRecord(const std::string& name) {
    std::string record = "0:" + name;
    record.resize(34, '\0');
    return record;
}

std::string entryRecord(char prefix, const std::string& name, const std::string& phone, const std::string& info,
                        const std::string& picture) {
    return std::string{prefix, ':'} + name + '\x01' + phone + '\x01' + info + '\x01' + picture + '\x01';
}

tagBusinessCard card(const char* name, const char* phone, const char* info = "") {
    tagBusinessCard c{};
    std::snprintf(c.name, sizeof c.name, "%s", name);
    std::snprintf(c.text2, sizeof c.text2, "%s", phone);
    std::snprintf(c.text3, sizeof c.text3, "%s", info);
    return c;
}

std::vector<std::string> groupNames(const CAddrBookFile& book) {
    std::vector<std::string> names;
    for (const auto& g : book.Groups()) names.push_back(g.name);
    return names;
}

// Answers every message box with `answer` and keeps the string ids asked.
struct Presenter {
    explicit Presenter(int answer) {
        CCommon::setMessagePresenter([this, answer](UINT id, UINT, const std::string&) {
            asked.push_back(id);
            return answer;
        });
    }
    ~Presenter() { CCommon::setMessagePresenter(nullptr); }
    std::vector<UINT> asked;
};

}  // namespace

TEST(AddrBookFile, FilesThatHoldNoBookGiveTheDefaultGroup) {
    struct Case {
        const char* what;
        std::string bytes;
        AddrBookLoad result;
        bool told;  // message 4240
    };
    const Case cases[] = {
        {"only magic and version", "KEAB1000", AddrBookLoad::Empty, false},
        {"magic in another case", "keab1000" + groupRecord("Depots"), AddrBookLoad::Loaded, false},
        {"a foreign file", "GIF89a....", AddrBookLoad::NotAnAddressBook, true},
        {"another version", "KEAB2000" + groupRecord("Depots"), AddrBookLoad::WrongVersion, false},
        {"shorter than its header", "KEA", AddrBookLoad::NotAnAddressBook, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Presenter presenter(0);
        const std::string path = bookPath("AddrBook.kiv");
        writeBytes(path, c.bytes);
        CAddrBookFile book;
        book.SetFileName(path, 0);
        book.SetUi(&AddrBookDialogUi());
        EXPECT_EQ(book.Load(), c.result);
        EXPECT_EQ(presenter.asked, c.told ? std::vector<UINT>{4240} : std::vector<UINT>{});
        if (c.result != AddrBookLoad::Loaded) {
            EXPECT_EQ(groupNames(book), std::vector<std::string>{"Sites"});
        }
    }
    CAddrBookFile missing;
    missing.SetFileName(bookPath("Missing.kiv"), 0);
    EXPECT_EQ(missing.Load(), AddrBookLoad::NoFile);
    EXPECT_EQ(groupNames(missing), std::vector<std::string>{"Sites"});
}

TEST(AddrBookFile, SavesRecordByRecordAndKeepsTheGroupOrderAcrossLoads) {
    const std::string path = bookPath("AddrBook.kiv");
    const std::string file = std::string("KEAB1000") + groupRecord("North") +
                             entryRecord('1', "Gate", "", "", "") +
                             entryRecord('3', "Depot", "555-0101", "Two cameras", "/pics/depot.bmp") +
                             groupRecord("South") + entryRecord('2', "Yard", "555-0199", "", "");
    writeBytes(path, file);
    CAddrBookFile book;
    book.SetFileName(path, 0);
    ASSERT_EQ(book.Load(), AddrBookLoad::Loaded);
    EXPECT_EQ(groupNames(book), (std::vector<std::string>{"North", "South"}));
    const AddrBookEntry& depot = *book.Groups()[0].entries[1];
    EXPECT_EQ(depot.Phone(), "555-0101");
    EXPECT_EQ(depot.Info(), "Two cameras");
    EXPECT_EQ(depot.Picture(), "/pics/depot.bmp");
    EXPECT_EQ(depot.viewState, 2);
    EXPECT_EQ(book.Groups()[1].entries[0]->viewState, 1);

    // Saved and loaded twice, the book is byte for byte what it was, its
    // groups in their first order; an entry with empty fields keeps its four
    // field ends.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(book.Save());
        EXPECT_EQ(readBytes(path), file);
        ASSERT_EQ(book.Load(), AddrBookLoad::Loaded);
    }

    // A group the dialog deleted (nameless) is not written.
    book.Groups()[0].name.clear();
    ASSERT_TRUE(book.Save());
    EXPECT_EQ(readBytes(path), std::string("KEAB1000") + groupRecord("South") + entryRecord('2', "Yard", "555-0199", "", ""));
}

TEST(AddrBookFile, DamagedRecordsNeverOverrunAnEntry) {
    const std::string path = bookPath("AddrBook.kiv");
    const std::string longName(100, 'N'), longInfo(700, 'i'), longGroup(40, 'G');
    const std::string file = std::string("KEAB1000") +
                             entryRecord('1', "Orphan", "1", "", "") +          // before any group
                             groupRecord(longGroup.substr(0, 32)) +              // 32 characters, no terminator
                             entryRecord('1', longName, "2", "", "") +          // name cut to its field
                             entryRecord('1', "Huge", "3", longInfo + longInfo, "") +  // longer than a record
                             entryRecord('1', "After", "4", "", "") +
                             "1:Torn\x01" "5";                                   // ends inside a record
    writeBytes(path, file);
    CAddrBookFile book;
    book.SetFileName(path, 0);
    ASSERT_EQ(book.Load(), AddrBookLoad::Loaded);
    ASSERT_EQ(book.Groups().size(), 1u);
    EXPECT_EQ(book.Groups()[0].name, longGroup.substr(0, kAbGroupNameChars));
    const auto& entries = book.Groups()[0].entries;
    ASSERT_EQ(entries.size(), 2u);  // the orphan, the huge and the torn record are passed over
    EXPECT_EQ(entries[0]->Name(), longName.substr(0, kAbNameBytes - 1));
    EXPECT_EQ(entries[1]->Name(), "After");
    EXPECT_EQ(book.FindEntry("ORPHAN"), nullptr);
}

TEST(AddrBookFile, AFailedSaveLeavesTheBookOnDiskWhole) {
    const std::string path = bookPath("AddrBook.kiv");
    CAddrBookFile book;
    book.SetFileName(path, 0);
    book.Load();
    ASSERT_TRUE(book.Save());
    const std::string saved = readBytes(path);
    book.SetFileName((std::filesystem::path(path).parent_path() / "no such folder" / "AddrBook.kiv").string(), 0);
    book.AddGroup("Lost");
    EXPECT_FALSE(book.Save());
    EXPECT_EQ(readBytes(path), saved);
}

TEST(AddrBookFile, AReceivedCardIsFiledOnceAndAKnownSiteUpdatedOnlyWhenTheUserAgrees) {
    // Offscreen nobody can answer the filing dialog: the card goes into the
    // group it proposes, the first one.
    ASSERT_FALSE(AddrBookCanAsk());
    const std::string path = bookPath("AddrBook.kiv");
    writeBytes(path, std::string("KEAB1000") + groupRecord("Depots") + groupRecord("Gates"));
    CAddrBookFile book;
    book.SetFileName(path, 0);
    book.SetUi(&AddrBookDialogUi());
    book.AddReceivedCard(nullptr, card("North Gate", "555-0101", "Main entrance"));
    CAddrBookFile reread;
    reread.SetFileName(path, 0);
    ASSERT_EQ(reread.Load(), AddrBookLoad::Loaded);
    ASSERT_EQ(reread.Groups()[0].entries.size(), 1u);
    EXPECT_EQ(reread.Groups()[0].entries[0]->Info(), "Main entrance");

    {
        // The same site in another letter case and with the same card: no question, nothing new.
        Presenter presenter(512);
        book.AddReceivedCard(nullptr, card("NORTH GATE", "555-0101", "MAIN ENTRANCE"));
        EXPECT_TRUE(presenter.asked.empty());
        reread.Load();
        EXPECT_EQ(reread.Groups()[0].entries.size(), 1u);
    }
    {
        // A changed card, and the user says no.
        Presenter presenter(16);
        book.AddReceivedCard(nullptr, card("North Gate", "555-0199"));
        EXPECT_EQ(presenter.asked, std::vector<UINT>{5130});
        reread.Load();
        EXPECT_EQ(reread.FindEntry("north gate")->Phone(), "555-0101");
    }
    {
        // A changed card, and the user says yes.
        Presenter presenter(512);
        book.AddReceivedCard(nullptr, card("North Gate", "555-0199"));
        reread.Load();
        EXPECT_EQ(reread.FindEntry("north gate")->Phone(), "555-0199");
        EXPECT_EQ(reread.Groups()[0].entries.size(), 1u);
    }
}

// A peer's card whose texts hold the book's field separator is filed
// without it: reloading gives the genuine groups and entry, no forged one,
// and saving again loses nothing.
TEST(AddrBookFile, SeparatorsInACardsTextsAreNotStored) {
    ASSERT_FALSE(AddrBookCanAsk());
    const std::string path = bookPath("Separators.kiv");
    writeBytes(path, std::string("KEAB1000") + groupRecord("Depots") +
                         entryRecord('1', "Yard", "555-0100", "", "") + groupRecord("Gates"));
    tagBusinessCard hostile = card("North\x01Gate", "555\x01\x01", "x\x01" "1:Forged\x01\x01\x01\x01");
    CAddrBookFile book;
    book.SetFileName(path, 0);
    book.SetUi(&AddrBookDialogUi());
    book.AddReceivedCard(nullptr, hostile);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        CAddrBookFile reread;
        reread.SetFileName(path, 0);
        ASSERT_EQ(reread.Load(), AddrBookLoad::Loaded);
        EXPECT_EQ(groupNames(reread), (std::vector<std::string>{"Depots", "Gates"}));
        ASSERT_EQ(reread.Groups()[0].entries.size(), 2u);
        EXPECT_TRUE(reread.Groups()[1].entries.empty());
        EXPECT_EQ(reread.Groups()[0].entries[0]->Name(), "Yard");
        const AddrBookEntry& filed = *reread.Groups()[0].entries[1];
        EXPECT_EQ(filed.Name(), "NorthGate");
        EXPECT_EQ(filed.Phone(), "555");
        EXPECT_EQ(filed.Info(), "x1:Forged");
        EXPECT_EQ(reread.FindEntry("Forged"), nullptr);
        ASSERT_TRUE(reread.Save());
    }
    // The same card again is the known site, not a new entry.
    book.AddReceivedCard(nullptr, hostile);
    book.Load();
    EXPECT_EQ(book.Groups()[0].entries.size(), 2u);
}

// The book itself makes no window and shows no message: without a UI handed
// to it, a foreign file and a received card are handled without asking anyone.
TEST(AddrBookFile, WithoutAUiTheBookOpensNoWindowAndStillFilesACard) {
    Presenter presenter(512);
    const auto windowsBefore = QApplication::allWidgets().size();
    const std::string path = bookPath("NoUi.kiv");
    writeBytes(path, "GIF89a....");
    CAddrBookFile book;
    book.SetFileName(path, 0);
    EXPECT_EQ(book.Load(), AddrBookLoad::NotAnAddressBook);
    writeBytes(path, std::string("KEAB1000") + groupRecord("Depots") + entryRecord('1', "Yard", "555-0100", "", ""));
    EXPECT_EQ(book.AddReceivedCard(nullptr, card("North Gate", "555-0101")), IDOK);
    EXPECT_EQ(book.AddReceivedCard(nullptr, card("Yard", "555-0199")), IDCANCEL);  // known: left as it was
    EXPECT_EQ(book.ShowDialog(nullptr, nullptr, nullptr), IDCANCEL);
    EXPECT_TRUE(presenter.asked.empty());
    EXPECT_EQ(QApplication::allWidgets().size(), windowsBefore);
    CAddrBookFile reread;
    reread.SetFileName(path, 0);
    ASSERT_EQ(reread.Load(), AddrBookLoad::Loaded);
    ASSERT_EQ(reread.Groups()[0].entries.size(), 2u);
    EXPECT_EQ(reread.Groups()[0].entries[1]->Name(), "North Gate");
    EXPECT_EQ(reread.FindEntry("Yard")->Phone(), "555-0100");
}

TEST(AddBCDlg, ACardFiledUnderANewGroupNameCreatesThatGroupAtTheEnd) {
    CAddrBookFile book;
    book.SetFileName(bookPath("AddrBook.kiv"), 0);
    book.Load();
    const AddrBookEntry received = EntryFromCard(card("Yard", "555-0123"));
    CAddBCDlg dialog(book, received, "Sites", nullptr);
    auto* group = dialog.findChild<QComboBox*>(UiControlName(CAddBCDlg::kGroupId));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->currentText(), "Sites");
    group->setEditText("A group name much longer than thirty-one characters");
    EXPECT_EQ(dialog.AcceptAsProposed(), IDOK);
    EXPECT_EQ(groupNames(book), (std::vector<std::string>{"Sites", "A group name much longer than t"}));
    EXPECT_EQ(book.Groups()[1].entries[0]->Name(), "Yard");
}

TEST(AddressBook, CommandsEditTheBookAndDeletingAGroupDropsItsSites) {
    CAddrBookFile book;
    book.SetFileName(bookPath("AddrBook.kiv"), 0);
    book.Load();
    AddrBookGroup& sites = book.Groups()[0];
    sites.entries.push_back(std::make_unique<AddrBookEntry>(EntryFromCard(card("Gate", "1", "Front"))));
    sites.entries.push_back(std::make_unique<AddrBookEntry>(EntryFromCard(card("Depot", "2"))));
    book.AddGroup("Empty");

    AddrBookEntry chosen;
    CAddressBook dialog(book, sites.entries[1].get(), &chosen, nullptr);
    QTreeWidget* tree = dialog.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    // The start entry is selected and its card shown.
    EXPECT_EQ(dialog.ShownEntry(), sites.entries[1].get());
    EXPECT_EQ(dialog.Card()->CaptionText(), "Depot\r\n2");
    auto* edit = dialog.findChild<QPushButton*>(UiControlName(CAddressBook::kEditId));
    EXPECT_TRUE(edit->isEnabled());

    // Enter does not close the book.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &enter);
    EXPECT_FALSE(dialog.result() == IDOK || dialog.result() == IDCANCEL);

    // A group selected: its card is cleared and editing is off.
    dialog.SelectGroup(1);
    EXPECT_EQ(dialog.ShownEntry(), nullptr);
    EXPECT_FALSE(edit->isEnabled());

    // Deleting the first group (the user agrees) drops both its sites.
    {
        Presenter presenter(512);
        dialog.SelectGroup(0);
        EXPECT_TRUE(dialog.DeleteSelected());
        EXPECT_EQ(presenter.asked, std::vector<UINT>{5150});
    }
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_TRUE(book.Groups()[0].entries.empty());
    ASSERT_TRUE(book.Save());
    book.Load();
    EXPECT_EQ(groupNames(book), std::vector<std::string>{"Empty"});
}

TEST(AddressBook, OkKeepsTheViewStateAndCopiesTheSelectedSite) {
    CAddrBookFile book;
    book.SetFileName(bookPath("AddrBook.kiv"), 0);
    book.Load();
    AddrBookGroup& sites = book.Groups()[0];
    sites.entries.push_back(std::make_unique<AddrBookEntry>(EntryFromCard(card("Gate", "1"))));
    sites.entries.push_back(std::make_unique<AddrBookEntry>(EntryFromCard(card("Depot", "2"))));
    AddrBookEntry chosen;
    {
        CAddressBook dialog(book, sites.entries[0].get(), &chosen, nullptr);
        auto* ok = dialog.findChild<QPushButton*>(UiControlName(IDOK));
        ok->click();
        EXPECT_EQ(dialog.result(), IDOK);
    }
    EXPECT_EQ(chosen.Name(), "Gate");
    EXPECT_EQ(chosen.treeItem, nullptr);
    EXPECT_EQ(sites.entries[0]->viewState, 2);
    EXPECT_EQ(sites.entries[1]->viewState, 1);  // its group stood open
}

TEST(EditAddrBook, OkNeedsANameAndFieldsKeepTheirLengths) {
    AddrBookEntry entry;
    CEditAddrBook dialog("Add Address Book - Sites", entry, nullptr, nullptr);
    auto* ok = dialog.findChild<QPushButton*>(UiControlName(IDOK));
    auto* name = dialog.findChild<QLineEdit*>(UiControlName(CEditAddrBook::kNameId));
    auto* phone = dialog.findChild<QLineEdit*>(UiControlName(CEditAddrBook::kPhoneId));
    auto* info = dialog.findChild<QPlainTextEdit*>(UiControlName(CEditAddrBook::kInfoId));
    EXPECT_FALSE(ok->isEnabled());
    name->setText(QString(80, 'n'));
    phone->setText(QString(40, '5'));
    info->setPlainText(QString(600, 'i'));
    EXPECT_TRUE(ok->isEnabled());
    ok->click();
    EXPECT_EQ(entry.Name().size(), 60u);
    EXPECT_EQ(entry.Phone().size(), 28u);
    EXPECT_EQ(entry.Info().size(), 511u);
}

TEST(BCWnd, CaptionLinesAndScrollRange) {
    QWidget parent;
    auto& card = *new CBCWnd(0xC0C0C0, 10, 5);  // owned by its parent once created
    card.SetCaption2("555-0101");
    EXPECT_EQ(card.CaptionText(), "555-0101");
    card.SetCaption("North Gate");
    EXPECT_EQ(card.CaptionText(), "North Gate\r\n555-0101");
    card.SetCaption("");
    card.SetCaption2("");
    EXPECT_EQ(card.CaptionText(), "");

    // Field 3 starts at top + s + m + (m + 20) + m + 20 + m = 115 with m 10
    // and s 5: 45 pixels below a bottom of 70 gives the range 0 to 3.
    card.Create(0, 0, 300, 200, &parent, false);
    const RECT area{0, 0, 300, 70};
    card.Layout(&area);
    EXPECT_EQ(card.ScrollRange(), 3);
    const RECT tall{0, 0, 300, 400};
    card.Layout(&tall);
    EXPECT_EQ(card.ScrollRange(), 0);
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    card.SetCaption("North Gate");
    card.SetCaption2("555-0101");
    card.SetField1Text("Main entrance, two cameras");
    card.Layout();
    card.grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/business_card.png");
}

TEST(EditAddrBook, ShowsTheEntrysPictureSizedToItsFrame) {
    QImage bitmap(40, 20, QImage::Format_RGB888);
    bitmap.fill(Qt::darkGreen);
    const std::string path = bookPath("gate.bmp");
    ASSERT_TRUE(bitmap.save(QString::fromStdString(path), "BMP"));
    AddrBookEntry entry;
    entry.SetTexts("Gate", "", "", path);
    CEditAddrBook dialog("Edit", entry, nullptr, nullptr);
    auto* picture = dialog.findChild<CMyImageCtrl*>(UiControlName(CEditAddrBook::kPictureId));
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(picture->HasPicture());
    EXPECT_EQ(picture->size(), QSize(40, 20));
}
