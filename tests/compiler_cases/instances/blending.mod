// expect: objective 7255
// Blend raw materials into a product meeting quality ranges; all data inline.
// Optimum: with use summing to 1000 the cost is 9200 - 0.7 ore1 - 6.1 scrap, least with scrap at its
// 25% share (250) and ore1 at its 600 supply, ore2 taking the other 150: carbon 36 and copper 14
// per 1000 lie inside their ranges. 9200 - 420 - 1525 = 7255.
{string} Materials = {"ore1", "ore2", "scrap"};
{string} Elements = {"carbon", "copper"};
float unitCost[Materials] = [8.5, 9.2, 3.1];
float grade[Materials][Elements] = [[0.03, 0.01], [0.02, 0.05], [0.06, 0.002]];
float low[Elements] = [0.02, 0.005];
float high[Elements] = [0.05, 0.04];
float available[Materials] = [600, 500, 300];
float batch = 1000;

dvar float+ use[Materials];

minimize blendCost: sum(m in Materials) unitCost[m] * use[m];

subject to {
  total: sum(m in Materials) use[m] == batch;
  forall(e in Elements) {
    minGrade: sum(m in Materials) grade[m][e] * use[m] >= low[e] * batch;
    maxGrade: sum(m in Materials) grade[m][e] * use[m] <= high[e] * batch;
  }
  forall(m in Materials)
    supplyLimit: use[m] <= available[m];
  scrapShare: use["scrap"] <= 0.25 * batch;
}
