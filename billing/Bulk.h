#pragma once

class Desk;

// 全部上机: one confirmation naming how many idle machines; then each gets the same start as
// the single command ("sj", the start row) without a box per machine; one summary at the end
// naming those that failed and why.
void StartAll(Desk& desk);

// 全部下机: one confirmation naming how many machines and the total due; then each gets the
// same checkout as the single command ("xiaji", the row reset, its bill in the journal)
// without a box per machine; one summary with the total collected and the failures.
void CheckOutAll(Desk& desk);
