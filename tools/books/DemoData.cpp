#include "DemoData.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "engine/Genres.h"

namespace zeplo::tool {

namespace {

// Authors are written "Příjmení Jméno".
constexpr std::string_view kKnownAuthors[] = {
    "Čapek Karel", "Němcová Božena", "Hašek Jaroslav", "Hrabal Bohumil", "Škvorecký Josef",
    "Seifert Jaroslav", "Neruda Jan", "Erben Karel Jaromír", "Mácha Karel Hynek", "Jirásek Alois",
    "Vančura Vladislav", "Olbracht Ivan", "Poláček Karel", "Havel Václav", "Klíma Ivan",
    "Körner Vladimír", "Fuks Ladislav", "Otčenášek Jan", "Řezáč Václav", "Šrámek Fráňa",
    "Zeyer Julius", "Vrchlický Jaroslav", "Hrubín František", "Nezval Vítězslav", "Wolker Jiří",
    "Foglar Jaroslav", "Sekora Ondřej", "Žáček Jiří", "Tučková Kateřina", "Šabach Petr",
    "Christie Agatha", "Verne Jules", "May Karel", "Dumas Alexandre", "Dostojevskij Fjodor Michajlovič",
    "Tolstoj Lev Nikolajevič", "Hemingway Ernest", "Remarque Erich Maria", "Orwell George",
    "Asimov Isaac", "Lem Stanisław", "Bradbury Ray", "Simenon Georges", "Tolkien John Ronald Reuel",
    "Saint-Exupéry Antoine de", "García Márquez Gabriel", "Mann Thomas", "Lagerlöfová Selma",
    "Čechov Anton Pavlovič", "Andersen Hans Christian"};

constexpr std::string_view kMaleSurnames[] = {
    "Novák", "Svoboda", "Dvořák", "Černý", "Procházka", "Kučera", "Veselý", "Horák", "Němec",
    "Pokorný", "Marek", "Pospíšil", "Hájek", "Král", "Jelínek", "Růžička", "Beneš", "Fiala",
    "Sedláček", "Doležal", "Zeman", "Kolář", "Navrátil", "Čermák", "Vaněk", "Urban", "Blažek",
    "Kříž", "Kovář", "Bartoš", "Vlček", "Polák", "Musil", "Šimek", "Konečný", "Malý", "Holub",
    "Štěpánek", "Kadlec", "Říha"};
constexpr std::string_view kFemaleSurnames[] = {
    "Nováková", "Svobodová", "Dvořáková", "Černá", "Procházková", "Kučerová", "Veselá",
    "Horáková", "Němcová", "Pokorná", "Marková", "Pospíšilová", "Hájková", "Králová", "Jelínková",
    "Růžičková", "Benešová", "Fialová", "Sedláčková", "Doležalová", "Zemanová", "Kolářová",
    "Navrátilová", "Čermáková", "Vaňková", "Urbanová", "Blažková", "Křížová", "Kovářová",
    "Bartošová", "Vlčková", "Poláková", "Musilová", "Šimková", "Konečná", "Malá", "Holubová",
    "Štěpánková", "Kadlecová", "Říhová"};
constexpr std::string_view kMaleNames[] = {
    "Jan", "Petr", "Jiří", "Josef", "Pavel", "Martin", "Tomáš", "Jaroslav", "Miroslav", "Zdeněk",
    "Václav", "Karel", "Milan", "Michal", "František", "Lukáš", "Jakub", "Vojtěch", "Ondřej",
    "Stanislav", "Radek", "Aleš", "Bohumil", "Přemysl", "Dušan"};
constexpr std::string_view kFemaleNames[] = {
    "Jana", "Marie", "Eva", "Hana", "Anna", "Lenka", "Kateřina", "Věra", "Lucie", "Alena",
    "Petra", "Jitka", "Zdeňka", "Božena", "Tereza", "Markéta", "Veronika", "Dagmar", "Šárka",
    "Ludmila", "Jiřina", "Iva", "Radka", "Michaela", "Blanka"};

constexpr std::string_view kNouns[] = {
    "Tajemství", "Dobrodružství", "Návrat", "Cesta", "Píseň", "Stín", "Dům", "Zahrada", "Kniha",
    "Příběh", "Noc", "Léto", "Zima", "Poklad", "Ostrov", "Město", "Hrad", "Most", "Krajina",
    "Dcera", "Syn", "Král", "Kronika", "Legenda", "Sen", "Pád", "Útěk", "Dopisy", "Deník",
    "Vzpomínky", "Povídky", "Hlas", "Světlo", "Brána", "Čas", "Srdce", "Mlýn", "Les", "Řeka",
    "Stopy", "Hledání", "Konec", "Zrcadlo"};
constexpr std::string_view kGenitives[] = {
    "starého mlýna", "ztraceného času", "modré hory", "černého lesa", "zlaté řeky", "tiché vody",
    "dlouhé noci", "posledního léta", "stříbrného jezera", "Šumavy", "Prahy", "Krkonoš", "Moravy",
    "dalekého severu", "horského údolí", "mého dědečka", "zapomenutého království", "bílé paní",
    "hvězd", "moře", "pouště", "lásky", "války", "svobody", "dětství", "naděje", "mlčení", "větru",
    "sněhu", "ohně", "kapitána Nováka", "malé vesnice", "jednoho podzimu", "železné koruny"};
constexpr std::string_view kAdjectiveNouns[] = {
    "Zlatý klíč", "Stará hora", "Modrý pták", "Tichá voda", "Ztracený ráj", "Poslední bitva",
    "Černá kočka", "Železná koruna", "Krvavý měsíc", "Zelené údolí", "Skleněný dům",
    "Divoké srdce", "Věčné světlo", "Dlouhá cesta", "Bílé město", "Horká krev", "Malá čarodějnice",
    "Tajná zahrada", "Severní vítr", "Rudé jablko", "Ocelový kůň", "Šedý vlk", "Žlutý dopis",
    "Prázdný pokoj", "Hořká čokoláda", "Cizí země"};
constexpr std::string_view kAbouts[] = {
    "Román o lásce a zradě.", "Příběh z doby první republiky.", "Vyprávění z prostředí malého města.",
    "Kniha o přátelství a odvaze.", "Pro děti i dospělé.", "Vzpomínky na válečná léta.",
    "Příběh o hledání domova.", "Ze života na venkově.", "Cesta kolem světa ve čtyřech dílech.",
    "Plné humoru a laskavé ironie.", "Napínavé pátrání po pachateli.", "Soubor krátkých povídek.",
    "Praktické rady a postupy.", "Poutavý výklad pro začátečníky.", "Sbírka veršů z mládí."};
constexpr std::string_view kNotes[] = {
    "Výborný stav.", "Obálka mírně poškozená.", "S věnováním autora.", "První vydání.",
    "Ilustrace v textu.", "Chybí přebal.", "Dárek k narozeninám."};

// splitmix64: small, fast and the same everywhere, unlike the standard distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <class T, std::size_t N>
    const T &pick(const T (&items)[N]) { return items[below(N)]; }
    template <class T, std::size_t N>
    const T &pick(const std::array<T, N> &items) { return items[below(N)]; }
    template <class T>
    const T &pick(const std::vector<T> &items) { return items[below(items.size())]; }

private:
    std::uint64_t state_;
};

std::size_t characters(std::string_view s)
{
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

void makePerson(Random &random, std::string &out, bool surnameFirst)
{
    const bool woman = random.chance(45);
    const std::string_view surname = woman ? random.pick(kFemaleSurnames) : random.pick(kMaleSurnames);
    const std::string_view name = woman ? random.pick(kFemaleNames) : random.pick(kMaleNames);
    out.assign(surnameFirst ? surname : name);
    out += ' ';
    out += surnameFirst ? name : surname;
}

void makeTitle(Random &random, std::string &out)
{
    switch (random.below(5)) {
    case 0:
    case 1:
        out.assign(random.pick(kNouns));
        out += ' ';
        out += random.pick(kGenitives);
        break;
    case 2:
        out.assign(random.pick(kAdjectiveNouns));
        break;
    case 3:
        out.assign(random.pick(kNouns));
        out += " a ";
        out += QString::fromUtf8(random.pick(kNouns)).toLower().toStdString();
        break;
    default:
        out.assign(random.pick(kAdjectiveNouns));
        out += ' ';
        out += random.pick(kGenitives);
        break;
    }
    if (random.chance(4)) {
        out += " ";
        out += std::to_string(2 + random.below(3));
        out += ". díl";
    }
    if (characters(out) > 60)
        out.assign(random.pick(kAdjectiveNouns));
}

} // namespace

void makeDemoBooks(BookSink &sink, std::uint64_t count, std::uint64_t seed)
{
    Random random(seed);
    std::vector<std::string> genres;
    for (const QString &genre : zeplo::genres())
        genres.push_back(genre.toStdString());
    Book book; // the id stays null: the catalogue numbers the books
    Value &author = book[1], &title = book[2], &genre = book[3], &year = book[4], &about = book[5],
          &owned = book[6], &read = book[7], &lentTo = book[8];
    for (std::uint64_t i = 0; i < count; ++i) {
        author.null = title.null = false;
        if (random.chance(30))
            author.text.assign(random.pick(kKnownAuthors));
        else
            makePerson(random, author.text, true);
        makeTitle(random, title.text);
        genre.setText(random.pick(genres));
        if (random.chance(3))
            year.setNull();
        else // more recent books than old ones
            year.setNumber(1850 + static_cast<std::int64_t>(std::max(random.below(176), random.below(176))));
        if (random.chance(60)) {
            about.setText(random.pick(kAbouts));
            if (random.chance(40)) {
                about.text += ' ';
                about.text += random.pick(kNotes);
            }
        } else {
            about.setNull();
        }
        const bool isOwned = random.chance(85);
        owned.setNumber(isOwned ? 1 : 0);
        read.setNumber(random.chance(55) ? 1 : 0);
        if (isOwned && random.chance(8)) {
            lentTo.null = false;
            makePerson(random, lentTo.text, false);
        } else {
            lentTo.setNull();
        }
        sink.add(book);
    }
}

} // namespace zeplo::tool
