#pragma once
// The numbers of the language texts (GetLangText). The comment of a text names what fills its
// placeholders; a text without one takes none. Numbers 63, 101 and 125 are not used.

// Welcome burst and message of the day
constexpr int TextWelcome = 1;          // 001; %1 nick!user@host
constexpr int TextYourHost = 2;         // 002; %1 server name, %2 server version
constexpr int TextCreated = 3;          // 003; %1 installation date
constexpr int TextUsersOnline = 4;      // 251; %1 open connections
constexpr int TextChannelsFormed = 5;   // 254; the count is a parameter of its own, %1 is always "0"
constexpr int TextMotdStart = 6;        // 375; %1 server name
constexpr int TextMotdEnd = 7;          // 376
constexpr int TextNoMotd = 8;           // 422
constexpr int TextUnknownCommand = 9;   // 421
constexpr int TextTooManyChannels = 10; // 405
constexpr int TextBadChannelName = 11;  // 403 on JOIN
constexpr int TextCannotJoin = 12;      // 473, 474, 475 (after the mode letter and the channel)
constexpr int TextEndOfNames = 13;      // 366

// QUIT reasons the other members see, and the ERROR line
constexpr int TextQuitPeerClosed = 14;
constexpr int TextQuitNoMessage = 15;
constexpr int TextQuitTimeout = 16;
constexpr int TextQuitError = 17;  // followed directly by "(" + reason + ")"
constexpr int TextNickInUse = 18;  // 433
constexpr int TextNoSuchNick = 19; // 401, 403 of MODE; StatServ clientversion of an unknown nick
constexpr int TextQuitFlooding = 20;
constexpr int TextEndOfBanList = 21;        // 368
constexpr int TextUnknownMode = 22;         // 472 (also SETOP with a level letter other than O, C, A)
constexpr int TextNeedMoreParams = 23;      // 461
constexpr int TextNoExternalMessages = 24;  // 404 in a channel with mode n
constexpr int TextModeratedChannel = 25;    // 404 in a channel with mode m
constexpr int TextNotOnChannel = 26;        // 403 of PART, TOPIC, KICK, NAMES; no such channel
constexpr int TextNoChannelRights = 27;     // 482
constexpr int TextWrongServerPassword = 28; // NOTICE AUTH
constexpr int TextPasswordRequired = 29;    // NOTICE AUTH

// WHOIS
constexpr int TextIsIdentified = 30; // 307
constexpr int TextRealHost = 31;     // 378; %1 "*@" + host name, %2 address
constexpr int TextIdleSignOn = 32;   // 317
constexpr int TextEndOfWhois = 33;   // 318

// NickServ and ChanServ answers
constexpr int TextIdentifyNotRegistered = 34;
constexpr int TextWrongPassword = 35;
constexpr int TextNickAlreadyRegistered = 36;
constexpr int TextIdentified = 37;
constexpr int TextNickRegistered = 38;
constexpr int TextAlreadyIdentified = 39;
constexpr int TextWrongSyntax = 40;
constexpr int TextEndOfList = 41;        // 323
constexpr int TextSupported = 42;        // 005
constexpr int TextBusyAwayNotModes = 43; // 472 for the letters x and y
constexpr int TextIdentifyFirst = 44;    // ChanServ register
constexpr int TextChannelAlreadyRegistered = 45;
constexpr int TextChannelRegistered = 46;
constexpr int TextNoRegisterRight = 47;

// WATCH
constexpr int TextEndOfWatchList = 48; // 607
constexpr int TextWatchOnline = 49;    // 600, 604
constexpr int TextWatchOffline = 50;   // 601, 605
constexpr int TextWatchStopped = 51;   // 604, 605 on removal

constexpr int TextErroneousNick = 52;     // 432
constexpr int TextQuitNickReclaimed = 53; // QUIT reason of quit type 5
constexpr int TextGuestNick = 54;         // %1 a random number; must contain %1
constexpr int TextLostNickToOwner = 55;   // %1 the nick
constexpr int TextLanguageSet = 56;       // 687; %1 language name
constexpr int TextLanguageList = 57;      // 687; %1 "Name (SIGN), ..."

// Services
constexpr int TextNickServHelp = 58;
constexpr int TextChanServHelp = 59;
constexpr int TextMemoServHelp = 60;
constexpr int TextUnknownServiceCommand = 61; // %1 service name in capitals
constexpr int TextMemoArrived = 62;           // %1 sender
constexpr int TextMemoNotRegistered = 64;     // %1 recipient
constexpr int TextMemoStored = 65;            // %1 recipient
constexpr int TextMemoBoxFull = 66;           // %1 sender, %2 the limit in characters
constexpr int TextNoMemos = 67;               // %1 own nick
constexpr int TextIdentifyWarning = 68;
constexpr int TextFirstAdministrator = 69;

// Operator commands
constexpr int TextClosingLink = 70;  // start of every ERROR line
constexpr int TextKilledBy = 71;     // %1 operator nick; ": " + reason may follow
constexpr int TextKillCount = 72;    // %1 number of connections closed
constexpr int TextNoPrivileges = 73; // 481
constexpr int TextClonesStart = 74;  // %1 nick
constexpr int TextClonesEnd = 75;
constexpr int TextNoSuchUser = 76; // SETOP, SHOWCLONES, getpass: nick not online or not registered
constexpr int TextEndOfWho = 77;   // 315

// StatServ and the away states
constexpr int TextStatServHelp = 78;
constexpr int TextStatTitle = 79;              // %1 server name
constexpr int TextNowAway = 80;                // 306
constexpr int TextStatConnections = 81;        // %1
constexpr int TextStatRegisteredNicks = 82;    // %1
constexpr int TextStatOpenChannels = 83;       // %1
constexpr int TextStatRegisteredChannels = 84; // %1
constexpr int TextNoTextToSend = 85;           // 412
constexpr int TextNoRecipient = 86;            // 411; %1 PRIVMSG or NOTICE
constexpr int TextStatSinceInstall = 87;       // %1 duration
constexpr int TextStatUpTime = 88;             // %1 duration
constexpr int TextStatConnectCount = 89;       // %1
constexpr int TextNoLongerAway = 90;           // 305

// G-lines and operator levels
constexpr int TextGLineAdded = 91;   // %1 mask
constexpr int TextGLineRemoved = 92; // %1 mask
constexpr int TextEndOfGLines = 93;
constexpr int TextGLinedNotice = 94;     // %1 network name
constexpr int TextGLinedReason = 95;     // %1 network name; also the KILL reason of a new G-line
constexpr int TextGLineMatchesYou = 96;  // %1 mask
constexpr int TextOperLevelRemoved = 97; // %1 nick, %2 level letter
constexpr int TextOperLevelGiven = 98;   // %1 nick, %2 level letter

// WHOWAS
constexpr int TextWasNoSuchNick = 99; // 406
constexpr int TextEndOfWhowas = 100;  // 369

// OperServ values
constexpr int TextValueDone = 102; // %1 key, %2 value
constexpr int TextValueUnknownKey = 103;
constexpr int TextValueRefused = 104; // %1 key, %2 current value
constexpr int TextValueLayout = 105;  // the console's settings page: "type:key:label" elements joined by "\"
constexpr int TextOperServHelp = 106;

// NickServ passwords
constexpr int TextPasswordChanged = 107;
constexpr int TextSetPassNotIdentified = 108;
constexpr int TextPasswordMailSubject = 109; // %1 server name
constexpr int TextPasswordMailBody = 110;    // %1 the password
constexpr int TextMailNotSetUp = 111;
constexpr int TextMailBusy = 112;
constexpr int TextPasswordMailSent = 113;
constexpr int TextPasswordMailAskedAlready = 114; // %1 nick

constexpr int TextReloadStart = 115;
constexpr int TextReloadDone = 116;
constexpr int TextTooManyClones = 117;         // %1 the allowed number
constexpr int TextNoTopic = 118;               // 331
constexpr int TextChanStatOn = 119;            // %1 channel
constexpr int TextChanStatOff = 120;           // %1 channel
constexpr int TextChannelNotRegistered = 121;  // %1 channel
constexpr int TextDropNickNotRegistered = 122; // %1 nick
constexpr int TextDropped = 123;               // %1 nick or channel
constexpr int TextNewOwnerNotRegistered = 124;
constexpr int TextOwnerChanged = 126; // %1 channel, %2 new owner
constexpr int TextStatMaxUsers = 127; // %1 date, %2 time, %3 number of users

// Every number above, for checks that walk all texts the server uses.
constexpr int AllTextIds[] = {
    TextWelcome,
    TextYourHost,
    TextCreated,
    TextUsersOnline,
    TextChannelsFormed,
    TextMotdStart,
    TextMotdEnd,
    TextNoMotd,
    TextUnknownCommand,
    TextTooManyChannels,
    TextBadChannelName,
    TextCannotJoin,
    TextEndOfNames,
    TextQuitPeerClosed,
    TextQuitNoMessage,
    TextQuitTimeout,
    TextQuitError,
    TextNickInUse,
    TextNoSuchNick,
    TextQuitFlooding,
    TextEndOfBanList,
    TextUnknownMode,
    TextNeedMoreParams,
    TextNoExternalMessages,
    TextModeratedChannel,
    TextNotOnChannel,
    TextNoChannelRights,
    TextWrongServerPassword,
    TextPasswordRequired,
    TextIsIdentified,
    TextRealHost,
    TextIdleSignOn,
    TextEndOfWhois,
    TextIdentifyNotRegistered,
    TextWrongPassword,
    TextNickAlreadyRegistered,
    TextIdentified,
    TextNickRegistered,
    TextAlreadyIdentified,
    TextWrongSyntax,
    TextEndOfList,
    TextSupported,
    TextBusyAwayNotModes,
    TextIdentifyFirst,
    TextChannelAlreadyRegistered,
    TextChannelRegistered,
    TextNoRegisterRight,
    TextEndOfWatchList,
    TextWatchOnline,
    TextWatchOffline,
    TextWatchStopped,
    TextErroneousNick,
    TextQuitNickReclaimed,
    TextGuestNick,
    TextLostNickToOwner,
    TextLanguageSet,
    TextLanguageList,
    TextNickServHelp,
    TextChanServHelp,
    TextMemoServHelp,
    TextUnknownServiceCommand,
    TextMemoArrived,
    TextMemoNotRegistered,
    TextMemoStored,
    TextMemoBoxFull,
    TextNoMemos,
    TextIdentifyWarning,
    TextFirstAdministrator,
    TextClosingLink,
    TextKilledBy,
    TextKillCount,
    TextNoPrivileges,
    TextClonesStart,
    TextClonesEnd,
    TextNoSuchUser,
    TextEndOfWho,
    TextStatServHelp,
    TextStatTitle,
    TextNowAway,
    TextStatConnections,
    TextStatRegisteredNicks,
    TextStatOpenChannels,
    TextStatRegisteredChannels,
    TextNoTextToSend,
    TextNoRecipient,
    TextStatSinceInstall,
    TextStatUpTime,
    TextStatConnectCount,
    TextNoLongerAway,
    TextGLineAdded,
    TextGLineRemoved,
    TextEndOfGLines,
    TextGLinedNotice,
    TextGLinedReason,
    TextGLineMatchesYou,
    TextOperLevelRemoved,
    TextOperLevelGiven,
    TextWasNoSuchNick,
    TextEndOfWhowas,
    TextValueDone,
    TextValueUnknownKey,
    TextValueRefused,
    TextValueLayout,
    TextOperServHelp,
    TextPasswordChanged,
    TextSetPassNotIdentified,
    TextPasswordMailSubject,
    TextPasswordMailBody,
    TextMailNotSetUp,
    TextMailBusy,
    TextPasswordMailSent,
    TextPasswordMailAskedAlready,
    TextReloadStart,
    TextReloadDone,
    TextTooManyClones,
    TextNoTopic,
    TextChanStatOn,
    TextChanStatOff,
    TextChannelNotRegistered,
    TextDropNickNotRegistered,
    TextDropped,
    TextNewOwnerNotRegistered,
    TextOwnerChanged,
    TextStatMaxUsers,
};
