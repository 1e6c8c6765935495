// Transactions: a transfer between two accounts and its line in a ledger, kept in two record
// files, made durable together with LOGOUT and COMMIT, or dropped together with ROLLBACK.
#include <cstdint>
#include <cstdio>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

#pragma pack(push, 1)
struct Account {
  int32_t number;
  int32_t balance;
};
struct Entry {
  int32_t number;
  int32_t from, to, amount;
};
#pragma pack(pop)

vtn::File accounts{vtn::FileDeclaration("ACC")
                       .driver(vtn::tarnwell_entry)
                       .name("accounts.twl\\!ACCOUNTS")
                       .create()
                       .field("NUMBER", vtn::ftype::LONG)
                       .field("BALANCE", vtn::ftype::LONG)
                       .key("BY_NUMBER", {"NUMBER"}, vtn::KA_PRIMARY)};
vtn::File ledger{vtn::FileDeclaration("LED")
                     .driver(vtn::tarnwell_entry)
                     .name("ledger.twl\\!LEDGER")
                     .create()
                     .field("NUMBER", vtn::ftype::LONG)
                     .field("FROM", vtn::ftype::LONG)
                     .field("TO", vtn::ftype::LONG)
                     .field("AMOUNT", vtn::ftype::LONG)
                     .key("BY_NUMBER", {"NUMBER"}, vtn::KA_PRIMARY)};

// Adds `amount` to the balance of account `number`; false when that fails.
bool change_balance(int32_t number, int32_t amount) {
  Account& account = accounts.record_as<Account>();
  account.number = number;
  vtn::GET(accounts, accounts.key("BY_NUMBER"));
  if (vtn::ERRORNUMBER() != 0) return false;
  account.balance += amount;
  vtn::PUT(accounts);
  return vtn::ERRORNUMBER() == 0;
}

// Moves `amount` from one account to another and writes ledger entry `entry`, all or nothing.
bool transfer(int32_t entry, int32_t from, int32_t to, int32_t amount) {
  vtn::LOGOUT(1, {accounts, ledger});  // both files join; each waits up to a second for others
  if (vtn::ERRORNUMBER() != 0) return false;
  Entry& line = ledger.record_as<Entry>();
  line = {entry, from, to, amount};
  vtn::ADD(ledger);  // 40 when the entry's number is taken
  if (vtn::ERRORNUMBER() != 0 || !change_balance(from, -amount) || !change_balance(to, amount)) {
    vtn::ROLLBACK();  // neither file keeps any change of this transfer
    return false;
  }
  vtn::COMMIT();  // both files change on disk, or, after a crash, neither does
  return vtn::ERRORNUMBER() == 0;
}

int32_t balance_of(int32_t number) {
  accounts.record_as<Account>().number = number;
  vtn::GET(accounts, accounts.key("BY_NUMBER"));
  return vtn::ERRORNUMBER() == 0 ? accounts.record_as<Account>().balance : -1;
}

int main() {
  for (vtn::File* file : {&accounts, &ledger}) {
    vtn::CREATE(*file);
    vtn::SHARE(*file);  // opened for reading and writing by this and other programs
  }
  for (const Account a : {Account{1, 100}, Account{2, 0}}) {
    accounts.record_as<Account>() = a;
    vtn::ADD(accounts);
  }

  const bool first = transfer(1, 1, 2, 30);   // committed
  const bool second = transfer(1, 2, 1, 10);  // entry 1 exists: rolled back, balances unchanged
  std::printf("first %d, second %d, balances %d and %d, %d ledger entries\n", first, second,
              balance_of(1), balance_of(2), vtn::RECORDS(ledger));
  const bool right =
      first && !second && balance_of(1) == 70 && balance_of(2) == 30 && vtn::RECORDS(ledger) == 1;
  for (vtn::File* file : {&accounts, &ledger}) {
    vtn::CLOSE(*file);
    vtn::REMOVE(*file);
  }
  return right ? 0 : 1;
}
