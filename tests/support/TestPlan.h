#pragma once

#include <QByteArray>

// The price plan the tests bill by. 普通区: weekdays 3 by day, 2 at night; weekends and
// holidays 4. 电竞区: 5 until noon, 6 after, 7 at weekends; holidays its own 8. pc07 is in 电竞区.
inline const QByteArray kTestPlan = R"({"zones": [
  {"name": "普通区",
   "rates": [{"days": ["mon","tue","wed","thu","fri"], "from": "08:00", "to": "22:00", "hourly": "3"},
             {"days": ["mon","tue","wed","thu","fri"], "from": "22:00", "to": "24:00", "hourly": "2"},
             {"days": ["mon","tue","wed","thu","fri"], "from": "00:00", "to": "08:00", "hourly": "2"},
             {"days": ["sat","sun","holiday"], "from": "00:00", "to": "24:00", "hourly": "4"}],
   "overnight": {"price": "10", "sell_from": "20:00", "sell_to": "04:00", "ends": "08:00"}},
  {"name": "电竞区",
   "rates": [{"days": ["mon","tue","wed","thu","fri"], "from": "00:00", "to": "12:00", "hourly": "5"},
             {"days": ["mon","tue","wed","thu","fri"], "from": "12:00", "to": "24:00", "hourly": "6"},
             {"days": ["sat","sun"], "from": "00:00", "to": "24:00", "hourly": "7"},
             {"days": ["holiday"], "from": "00:00", "to": "24:00", "hourly": "8"}]}],
 "holidays": ["2026-12-25"],
 "machines": {"pc07": "电竞区"}})";

// The packages the tests sell, in 普通区: 三小时 (refunds pro rata), 一小时锁 (locks at its end),
// 包夜 (22:00–08:00, sold 20:00–04:00 except on holidays).
inline const QByteArray kTestCatalogue = R"({"packages": [
  {"name": "三小时", "zones": ["普通区"], "kind": "length", "minutes": 180, "price": "10",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "sell_from": "00:00",
   "sell_to": "24:00", "at_end": "continue", "refund": "pro_rata"},
  {"name": "一小时锁", "zones": ["普通区"], "kind": "length", "minutes": 60, "price": "4",
   "sell_days": ["mon","tue","wed","thu","fri","sat","sun","holiday"], "sell_from": "00:00",
   "sell_to": "24:00", "at_end": "lock"},
  {"name": "包夜", "zones": ["普通区"], "kind": "window", "from": "22:00", "to": "08:00",
   "price": "15", "sell_days": ["mon","tue","wed","thu","fri","sat","sun"],
   "sell_from": "20:00", "sell_to": "04:00"}]})";
