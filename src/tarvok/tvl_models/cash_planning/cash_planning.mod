// Short-term cash planning: each month decide how much to borrow on the credit
// line and how much to place in a one-month deposit, so that the bank balance
// never falls below its minimum, borrowing stays within the credit line, all
// loans are repaid in the last month, and the final balance is as large as possible.

int monthCount = ...;               // months in the plan
range Months = 1..monthCount;       // January is month 1

float netFlow[Months] = ...;        // operating cash flow of each month (thousand euros)
float openingBalance = ...;         // money in the bank at the start of the plan
float minBalance = ...;             // least money in the bank at the end of every month
float loanRate = ...;               // interest on a one-month loan (fraction per month)
float depositRate = ...;            // interest on a one-month deposit (fraction per month)
float creditLine = ...;             // most that may be borrowed in a month

// Borrowed at the start of each month, repaid with interest the next month.
dvar float+ borrow[Months] in 0..creditLine;
// Placed on deposit at the start of each month, returned with interest the next month.
dvar float+ deposit[Months];
// Money in the bank at the end of each month.
dvar float+ balance[Months];

// Money in the bank at the end of the plan.
maximize FinalCash: balance[monthCount];

subject to {
  // First month: opening balance, operations and the month's loan and deposit.
  firstMonth: balance[1] == openingBalance + netFlow[1] + borrow[1] - deposit[1];

  // Later months: last month's loan is repaid with interest and last month's
  // deposit comes back with interest.
  forall(m in Months: m > 1)
    cashBalance: balance[m] == balance[m - 1] + netFlow[m] + borrow[m] - deposit[m]
                             - (1 + loanRate) * borrow[m - 1] + (1 + depositRate) * deposit[m - 1];

  // The bank balance never ends a month below the minimum.
  forall(m in Months)
    keepMinimum: balance[m] >= minBalance;

  // Nothing is borrowed or deposited in the last month, so every loan is repaid by then.
  noLastLoan: borrow[monthCount] == 0;
  noLastDeposit: deposit[monthCount] == 0;
}
