// Placeholder so plexapi builds before its sources land; removed by the first unit.
