#include "guidance/guidance.hpp"

#include <array>
#include <string_view>

#include "notices/maker_details.hpp"

namespace profiledesk {

namespace {

constexpr std::array<std::string_view, 13> kGuidanceA{
    " -----> This Option Instructs You On How To Use This Program(Application) <........ ",
    " -----> Select Option 1 Or Option 2 For The Type Of Data You Wish To Request For <........ ",
    " -----> Option '1' Is Meant To Input The Data(s) Acording To Your Needs For Any Near By "
    "Task(Duty) <........ ",
    " -----> Also, It Allows You To Identify Your Immediate(Instant) Needs According To Your "
    "Demand(s) <........ ",
    " -----> Based On Your Environmental Needs(Goals) And Achievements.  Likewise, It Gives You The "
    "Option <........ ",
    " -----> To Know And Undersand The Developmental(Maintenance) Level(s) Of Your "
    "Community(Environemnt). <........ ",
    " -----> Additionally, This Option Gives You The Chances To Particiapte(Enter Your Needs) In The "
    "Designed(Given) <........ ",
    " -----> Data Collection Process(Task).  Lastly, The Best Available Option To Retrieve Or Get Your "
    "Stored(Saved) Data(s) <.... ",
    " -----> Back Is To Searh For It With The 'Time And The Date' You Used The(This) "
    "Application(Program) Through The Find Box <.... ",
    " -----> That Appears On The Screen.  This Method Quicly Displays The Actual Data That "
    "Corresponds(Related) With That <..... ",
    " -----> Time And(Or) Date As Stored(Saved) On Your Machine(Computer) And Laptop.  Always Put This "
    "In Consideration <.... ",
    " -----> All The Time As One Of The Best Options. Seeing Your Datas BaYou Can Also E.Mail Your "
    "Views(Surveys Or Participation) <.......",
    " -----> Back To The Given(Displayed) E.Mail Address On The Screen Or The Phone Number "
    "Shown(Displayed) On The(This) Screen. <........",
};

constexpr std::array<std::string_view, 16> kGuidanceB{
    " -----> This Option Instructs You On How To Use This Program(Application) <........ ",
    " -----> Select Option 2 For The Data(s) You Wish To Request For(View) <........ ",
    " -----> Option '1' Is Meant To Input The Data(s) Acording To Your Needs For Any Near By "
    "Task(Duty) <........ ",
    " -----> Also, It Allows You To Identify Your Immediate(Instant) Needs According To Your "
    "Demand(s) <........ ",
    " -----> Based On Your Environmental Needs(Goals) And Achievements.  <........ ",
    " -----> You Can Retrieve All Your Saved(Inouted) Datas On The Screen By 'Selecting Option 2' Only "
    "<----- ",
    " -----> After Retireving Or Displaying Your Datas On The Screen, You Can Search For A Data(Word) "
    "You Wish To View <----- ",
    " -----> Personally By Using The(Your) Mouse To Select The 'Black DOS' Icon On The Upper Left Hand "
    "Side(Corner) <----- ",
    " -----> Of The Screen.  Select 'Edit' After That And Select 'Find' Again After That Also. <----- ",
    " -----> Type The Word(String) You Wish To Find(Look For) In The Text Section Of The Small Box Shown "
    "On The Screen",
    " -----> After Typing The Word(String) There, Select(Click) 'Find Next' On The Small Box Or Just "
    "Press The Enter Button After That. ",
    " -----> To Continue Your Searched Word(String) Until You Reach The End Of The Screen. -----> ",
    " -----> This Application And Instructions On It Are Meant For You To Understand Your Public "
    "Profile(s) And ",
    " -----> Awareness(Consideration) For Your Environmental Ideas, Skills, Knowledge And Educational "
    "Purpose(s). ----->. ",
    " -----> You Can Also E.Mail Your Views(Surveys Or Participation) Back To The <........ ",
    " -----> Given(Displayed) E.Mail Address On The Screen Or The Phone Number Shown(Displayed) On "
    "The(This) Screen. <........ ",
};

template <std::size_t N>
void writeScreen(std::ostream& out, const std::array<std::string_view, N>& lines) {
    out << " " << std::endl;
    for (const std::string_view line : lines) {
        out << line << std::endl;
    }
    out << " " << std::endl;
}

}  // namespace

void showGuidanceA(std::ostream& out) {
    writeScreen(out, kGuidanceA);
    writeClosingNotice(out, kMakerDetails);
}

int showGuidanceB(std::istream& in, std::ostream& out) {
    writeScreen(out, kGuidanceB);
    out << " --> Enter Requested Option |--| [ Enter Option 1 Or 2 Only ] Option(Selection) Requested :: "
        << std::endl;
    int followUpOption = 0;  // a failed read leaves 0, which selects nothing
    in >> followUpOption;
    return followUpOption;
}

void endGuidanceB(std::ostream& out) {
    out << " " << std::endl;
    writeClosingNotice(out, kMakerDetails);
}

}  // namespace profiledesk
